#pragma once
// The seam every kind of cache store sits behind: the WinInet index.dat, Firefox's cache2,
// Chromium's simple and blockfile caches, and a store held in memory for tests.

#include "storeentry.h"
#include "storeerror.h"
#include "storekind.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Who keeps a store busy while it is in use, so that the user knows what to close.
enum class StoreHolder : std::uint8_t {
    Browser,      // the store's own browser (browserName())
    WinePrograms, // any program of the Wine prefix the store lies in
};

// What became of one key of a removal of many.
enum class RemovalOutcome : std::uint8_t {
    Deleted,     // the entry and its files are gone
    AlreadyGone, // no entry had the key any more: someone else removed it first
    Refused,     // the entry stays; `error` and `reason` say why
    NotTried,    // the removal was stopped before it came to this key
};

struct KeyRemoval {
    RemovalOutcome outcome = RemovalOutcome::NotTried;
    StoreError error = StoreError::None;
    std::string reason; // in English, for Refused and NotTried
    // Whether the entry is no longer in the store, whoever removed it.
    bool gone() const { return outcome == RemovalOutcome::Deleted || outcome == RemovalOutcome::AlreadyGone; }
};

// Told how far a removal of many has come: `done` keys so far, or, with `waiting`, that it
// waits for another program that is changing the store. Returning false stops the removal
// before the next key (or ends the wait); the keys not reached are NotTried.
using RemovalProgress = std::function<bool(std::size_t done, bool waiting)>;

class CacheStore {
public:
    virtual ~CacheStore() = default;

    virtual StoreKind kind() const = 0;
    // The store's folder: its own files lie below it. Empty for a store without one.
    virtual std::string folder() const = 0;
    // Where the entries come from, for messages.
    virtual std::string describe() const { return folder(); }
    // The browser the store belongs to, as the cache root names it ("Firefox", "Chrome");
    // empty for the program's own stores.
    virtual std::string browserName() const { return BrowserNameFor(kind(), folder()); }
    // Whether the program only ever reads this store: then removalRefusal() says why and
    // deleting is not offered.
    virtual bool readOnly() const { return false; }
    // Who keeps the store busy when a removal is refused as Busy.
    virtual StoreHolder holder() const { return StoreHolder::Browser; }

    // Every entry of the store as it is now. A store that cannot be read gives no entries and
    // the reason in `error`; a damaged entry is left out and counted, never the whole store.
    virtual StoreListing list() = 0;

    // Why entries cannot be removed from this store now, in English; empty when they can.
    virtual std::string removalRefusal() const { return {}; }
    // Removes the entry whose key equals `key`, with its files.
    virtual StoreResult remove(std::string_view key) = 0;
    // Removes the entries whose keys are given, and says for each key what became of it, in
    // the same order. This default removes them one by one.
    virtual std::vector<KeyRemoval> removeMany(const std::vector<std::string> &keys,
                                               const RemovalProgress &progress = {});

protected:
    // Removes the keys one by one through `removeOne`, asking removalRefusal() again every so
    // many entries (the browser may start meanwhile); the keys after a refusal are refused too.
    std::vector<KeyRemoval> removeEach(const std::vector<std::string> &keys, const RemovalProgress &progress,
                                       const std::function<StoreResult(std::string_view)> &removeOne) const;
};

// The outcome of one removal by remove(): StoreError::NotFound counts as already gone.
KeyRemoval KeyRemovalOf(StoreResult result);

// A store with no entries, for when no readable cache store is there; the reason is its
// listing's error and describe() says it too.
class EmptyStore : public CacheStore {
public:
    EmptyStore(std::string where, std::string why, StoreError kind = StoreError::NotACache)
        : m_where(std::move(where)), m_why(std::move(why)), m_kind(kind)
    {}
    StoreKind kind() const override { return StoreKind::None; }
    std::string folder() const override { return m_where; }
    std::string describe() const override { return m_where.empty() ? m_why : m_where + ": " + m_why; }
    StoreListing list() override;
    std::string removalRefusal() const override { return describe(); }
    StoreResult remove(std::string_view) override;
    std::vector<KeyRemoval> removeMany(const std::vector<std::string> &keys, const RemovalProgress &) override;

private:
    std::string m_where;
    std::string m_why;
    StoreError m_kind;
};

// A store held in memory. Removing an entry also removes its local file, as the real stores
// do; it fails when that file exists and cannot be removed.
class MemoryStore : public CacheStore {
public:
    explicit MemoryStore(std::string folder = {}) : m_folder(std::move(folder)) {}
    StoreKind kind() const override { return StoreKind::Memory; }
    std::string folder() const override { return m_folder; }
    std::string describe() const override { return "memory store"; }
    StoreListing list() override { return m_listing; }
    StoreResult remove(std::string_view key) override;

    // Adds an entry with the given texts (key = url); the caller sets the other fields.
    StoreEntry &add(std::string_view url, std::string_view localFile, bool hasLocalFile = true);
    void setText(StoreText &field, std::string_view text) { field = m_listing.addText(text); }
    StoreListing &listing() { return m_listing; }
    const StoreListing &listing() const { return m_listing; }

private:
    std::string m_folder;
    StoreListing m_listing;
};
