#include "entry.h"

#include "text.h"

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
