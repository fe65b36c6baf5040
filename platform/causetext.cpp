#include "causetext.h"

QString CauseText(std::uint32_t error)
{
    switch (error) {
    case ERROR_DISK_FULL:
        return QStringLiteral("磁盘已满");
    case ERROR_WRITE_FAULT:
        return QStringLiteral("读写磁盘时出错");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("没有权限");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("磁盘是只读的");
    case ERROR_FILE_NOT_FOUND:
        return QStringLiteral("文件或文件夹不存在");
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("所需的文件夹不存在或不是文件夹");
    case ERROR_SHARING_VIOLATION:
        return QStringLiteral("文件正被其他程序使用");
    case ERROR_FILE_CORRUPT:
        return QStringLiteral("文件已损坏");
    case ERROR_NOT_SUPPORTED:
        return QStringLiteral("不支持这种操作");
    default:
        return QStringLiteral("错误代码 %1").arg(error);
    }
}
