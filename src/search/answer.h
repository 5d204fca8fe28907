// The answer of one page: the host's buffer, and later, when the answer was
// not in the ANSI code page, the converted text that replaced it. Released
// when the page ends, whatever the outcome. With it, once asked for, the
// reading of its bytes as they are (page_reading.h), which the test for a YDF
// element and the page share.
#pragma once

#include <cstdint>

#include "contract/host_buffer.h"
#include "platform/text.h"
#include "search/page_reading.h"
#include "search/service.h"
#include "search/xml_locator.h"

namespace norrow::search {

class Answer {
public:
    explicit Answer(PageStrategy strategy = PageStrategy::kWalk) : strategy_(strategy) {}

    // Takes over what the host handed out. A null buffer or a length below 0
    // counts as an empty answer.
    void TakeHostBuffer(char* bytes, int32_t length);

    // Replaces the answer by `converted`, releasing the host's buffer.
    void Replace(platform::AnsiString converted);

    XmlRange Bytes() const { return {data_, length_}; }

    // The reading of the bytes as they are now, made at the first call.
    const PageReading& Reading();

private:
    contract::HostBuffer host_;
    platform::AnsiString converted_;
    const char* data_ = "";
    int32_t length_ = 0;
    PageStrategy strategy_;
    bool read_ = false;  // reading_ is of the bytes as they are now
    PageReading reading_;
};

// Brings the answer into the ANSI code page: converts it from UTF-8 when its
// XML declaration says so; takes it as big-endian UTF-16 when it holds no YDF
// element. Shows the service's message box and returns false on failure.
bool BringIntoAnsiCodePage(const Service& service, Answer& answer);

}  // namespace norrow::search
