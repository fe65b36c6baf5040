#include "causetext.h"

QString CauseText(StoreError error)
{
    switch (error) {
    case StoreError::DiskFull:
        return QStringLiteral("磁盘已满");
    case StoreError::IoError:
        return QStringLiteral("读写磁盘时出错");
    case StoreError::Denied:
        return QStringLiteral("没有权限");
    case StoreError::DiskReadOnly:
        return QStringLiteral("磁盘是只读的");
    case StoreError::NotFound:
        return QStringLiteral("文件或文件夹不存在");
    case StoreError::NoFolder:
        return QStringLiteral("所需的文件夹不存在或不是文件夹");
    case StoreError::Busy:
        return QStringLiteral("文件正被其他程序使用");
    case StoreError::Damaged:
        return QStringLiteral("文件已损坏");
    case StoreError::ReadOnly:
        return QStringLiteral("这种缓存只能读取");
    case StoreError::NotACache:
        return QStringLiteral("这里没有浏览器缓存");
    case StoreError::Unsupported:
        return QStringLiteral("不支持这种缓存格式");
    case StoreError::NewerFormat:
        return QStringLiteral("较新的缓存格式");
    case StoreError::Encrypted:
        return QStringLiteral("缓存已加密，找不到它的密钥");
    case StoreError::Closed:
        return QStringLiteral("这个缓存已经关闭");
    case StoreError::None:
        break;
    }
    return QStringLiteral("出错");
}
