// The kinds of cache store the program reads: one row each. A kind's descriptor lives in
// the kind's own file; its folders are probed in this order.
#include "storekind.h"

#include "chromiumblockfile.h"
#include "chromiumsimple.h"
#include "firefoxstore.h"
#include "indexdatstore.h"

const std::vector<StoreKind> &CacheStoreKinds()
{
    static const std::vector<StoreKind> kinds = {
        IndexDatStoreKind,
        FirefoxStoreKind,
        ChromiumSimpleStoreKind,
        ChromiumBlockfileStoreKind,
    };
    return kinds;
}

const char *StoreKindId(StoreKind kind)
{
    return kind->id;
}

StoreKind StoreKindFromId(std::string_view id)
{
    for (const StoreKind kind : CacheStoreKinds())
        if (id == kind->id)
            return kind;
    return id == MemoryStoreKind.id ? StoreKind::Memory : StoreKind::None;
}

std::uint32_t StoreKindNumber(StoreKind kind)
{
    const std::vector<StoreKind> &kinds = CacheStoreKinds();
    for (std::size_t i = 0; i < kinds.size(); ++i)
        if (kinds[i] == kind)
            return std::uint32_t(i + 1);
    return kind == StoreKind::Memory ? std::uint32_t(kinds.size() + 1) : 0;
}

StoreKind StoreKindAt(std::uint32_t number)
{
    const std::vector<StoreKind> &kinds = CacheStoreKinds();
    if (number >= 1 && number <= kinds.size())
        return kinds[number - 1];
    return number == kinds.size() + 1 ? StoreKind::Memory : StoreKind::None;
}

std::string BrowserNameFor(StoreKind kind, const std::string &folder)
{
    return kind->browserName ? kind->browserName(folder) : std::string();
}
