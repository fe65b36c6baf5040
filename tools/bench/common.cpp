// What every bench command shares: the median of timed runs and opening the store.

#include "bench.h"

#include "platform/urlcachestore.h"
#include "stores/storeregistry.h"

#include <algorithm>
#include <cstdio>

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::shared_ptr<CacheStore> UseStore(const std::string &path)
{
    auto store = OpenStore(path);
    if (store->kind() == StoreKind::None) {
        std::fprintf(stderr, "tidewrack-bench: %s\n", store->describe().c_str());
        return nullptr;
    }
    SetUrlCacheStore(store);
    return store;
}
