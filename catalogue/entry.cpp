#include "entry.h"

#include "text.h"

#include "stores/bodies.h"
#include "stores/cachestore.h"

CatalogueEntry AdoptEntryBlock(std::byte *block)
{
    return CatalogueEntry(reinterpret_cast<const INTERNET_CACHE_ENTRY_INFOA *>(block),
                          [block](const INTERNET_CACHE_ENTRY_INFOA *) { delete[] block; });
}

HeaderCopy MakeHeaderCopy(const Tcachedata &record)
{
    return HeaderCopy{record.header, record.block};
}

Tcachedata MakeViewRecord(const CatalogueEntry &entry)
{
    Tcachedata record;
    record.header = *entry;
    record.block = entry;
    return record;
}

Tcachedata MakeViewRecord(const HeaderCopy &entry)
{
    Tcachedata record;
    record.header = entry.header;
    record.block = entry.block;
    return record;
}

int CompareHost(const CatalogueEntry &a, const CatalogueEntry &b)
{
    return CompareLowered(UrlHost(SourceUrl(a)), UrlHost(SourceUrl(b)));
}

const char *PresenceFile(const INTERNET_CACHE_ENTRY_INFOA *block, const INTERNET_CACHE_ENTRY_INFOA &header)
{
    const CACHE_ENTRY_EXTRAS *extras = EntryExtras(block);
    if (extras && extras->dwBodyPlace == DWORD(BodyPlace::Range))
        return extras->lpszContainer;
    return LocalFileName(header);
}

bool EnsureLocalFile(const INTERNET_CACHE_ENTRY_INFOA *block, std::string *why)
{
    if (!block)
        return false;
    const CACHE_ENTRY_EXTRAS *extras = EntryExtras(block);
    if (!extras || extras->dwBodyPlace != DWORD(BodyPlace::Range)) {
        if (FileExists(LocalFileName(*block)))
            return true;
        if (why)
            *why = std::string(LocalFileName(*block)) + ": the file is gone";
        return false;
    }
    BodyRef ref;
    ref.container = extras->lpszContainer;
    ref.offset = extras->qwBodyOffset;
    ref.size = EntrySize(*block);
    ref.contentEncoding = extras->lpszContentEncoding;
    const StoreResult result = WriteBodyFile(ref, LocalFileName(*block));
    if (!result.ok() && why)
        *why = result.reason;
    return result.ok();
}
