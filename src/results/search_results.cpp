#include "results/search_results.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace norrow::results {

SearchResultArray searchResults;
platform::StringList NameList;
platform::StringList YomiList;
platform::StringList AddressList;

namespace {

constexpr int32_t kStoreGrowBy = 64;

SEARCHRESULT* Allocate(int32_t count) {
    if (static_cast<size_t>(count) > std::numeric_limits<size_t>::max() / sizeof(SEARCHRESULT)) {
        throw std::bad_alloc();
    }
    return static_cast<SEARCHRESULT*>(::operator new(sizeof(SEARCHRESULT) * count));
}

void Zero(SEARCHRESULT* first, int32_t count) {
    if (count > 0) std::memset(first, 0, sizeof(SEARCHRESULT) * count);
}

}  // namespace

SearchResultArray::~SearchResultArray() { ::operator delete(data); }

void SearchResultArray::SetSize(int32_t newSize, int32_t step) {
    if (step != -1) growBy = step;
    if (newSize < 0) newSize = 0;
    if (newSize == 0) {
        ::operator delete(data);
        data = nullptr;
        size = maxSize = allocated_ = 0;
    } else if (data == nullptr) {
        data = Allocate(newSize);
        Zero(data, newSize);
        size = maxSize = allocated_ = newSize;
    } else if (newSize <= maxSize) {
        Zero(data + size, newSize - size);
        size = newSize;
    } else {
        const int64_t room = static_cast<int64_t>(maxSize) + platform::GrowthStep(growBy, size);
        const int32_t newMax = newSize >= room    ? newSize
                               : room > INT32_MAX ? INT32_MAX
                                                  : static_cast<int32_t>(room);
        if (newMax > allocated_) {
            const int64_t generous = static_cast<int64_t>(allocated_) + allocated_ / 2;
            const int32_t block = generous > newMax && generous <= INT32_MAX
                                      ? static_cast<int32_t>(generous)
                                      : newMax;
            SEARCHRESULT* moved = Allocate(block);
            std::memcpy(moved, data, sizeof(SEARCHRESULT) * size);
            ::operator delete(data);
            data = moved;
            allocated_ = block;
        }
        Zero(data + size, newSize - size);
        size = newSize;
        maxSize = newMax;
    }
}

void ResetSearchResults() {
    searchResults.SetSize(0, kStoreGrowBy);
    for (platform::StringList* list : {&NameList, &YomiList, &AddressList}) {
        list->RemoveAll();
        list->SetGrowBy(kStoreGrowBy);
    }
}

bool AppendSearchResult(const char* name, const char* yomi, const char* address, double longitude,
                        double latitude, uint32_t targetId) {
    using platform::StringList;
    const int32_t index = searchResults.size;
    try {
        // Everything that may fail comes first, so a failure leaves the four
        // stores as long as each other.
        std::unique_ptr<char[]> nameCopy = StringList::Copy(name != nullptr ? name : "");
        std::unique_ptr<char[]> yomiCopy = StringList::Copy(yomi != nullptr ? yomi : "");
        std::unique_ptr<char[]> addressCopy = StringList::Copy(address != nullptr ? address : "");
        NameList.ReserveOneMore();
        YomiList.ReserveOneMore();
        AddressList.ReserveOneMore();
        searchResults.SetSize(index + 1);
        NameList.Adopt(std::move(nameCopy));
        YomiList.Adopt(std::move(yomiCopy));
        AddressList.Adopt(std::move(addressCopy));
    } catch (const std::bad_alloc&) {
        return false;
    }
    SEARCHRESULT& hit = searchResults.data[index];  // zero-filled by SetSize
    hit.latitude = latitude;
    hit.longitude = longitude;
    hit.name = NameList[index];
    hit.address = AddressList[index];
    hit.yomi = YomiList[index];
    hit.attribute = kHitAttribute;
    hit.targetId = targetId;
    return true;
}

}  // namespace norrow::results
