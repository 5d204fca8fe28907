// The hits of the current search: the records handed to the host, the array
// that holds them and the lists that own their texts. Shared by both search
// targets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract/plugin_interface.h"
#include "platform/text.h"

namespace norrow::results {

// A growable array of plain records that grows as the class library's arrays
// do: by `growBy` elements, or with growBy 0 by an eighth of its size (4 to
// 1024). `data` is null exactly when `maxSize` is 0.
//
// `maxSize` follows that rule exactly, but the block behind it grows by at
// least half its room at a time, so that a growth by a fixed step moves the
// records only now and then: appending n hits costs time linear in n.
class SearchResultArray {
public:
    SEARCHRESULT* data = nullptr;
    int32_t size = 0;     // elements in use
    int32_t maxSize = 0;  // the room the growth rule gives; the block may hold more
    int32_t growBy = 0;

    SearchResultArray() = default;
    SearchResultArray(const SearchResultArray&) = delete;
    SearchResultArray& operator=(const SearchResultArray&) = delete;
    ~SearchResultArray();

    // Resizes to `newSize` elements (new ones zero-filled); `step` -1 keeps
    // the growth step. 0 releases the block. Throws std::bad_alloc and then
    // changes nothing but the step.
    void SetSize(int32_t newSize, int32_t step = -1);

private:
    int32_t allocated_ = 0;  // elements the block really holds, >= maxSize
};

// The store of the process.
extern SearchResultArray searchResults;
extern platform::StringList NameList;
extern platform::StringList YomiList;
extern platform::StringList AddressList;

// Empties the store, releasing every record and text; the growth step becomes 64.
void ResetSearchResults();

// Appends one hit with copies of its texts. Returns false, and appends
// nothing anywhere, when memory runs out.
bool AppendSearchResult(const char* name, const char* yomi, const char* address, double longitude,
                        double latitude, uint32_t targetId);

}  // namespace norrow::results
