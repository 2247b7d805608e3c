// Ownership of the texts and result codes that the Rust half hands back.
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include "bridge_abi.h"

namespace clarabel_bridge::detail {

// Owns a message from the bridge and releases it with tarvo_bridge_message_free.
class BridgeMessage {
public:
    BridgeMessage() = default;
    BridgeMessage(const BridgeMessage&) = delete;
    BridgeMessage& operator=(const BridgeMessage&) = delete;
    ~BridgeMessage() { tarvo_bridge_message_free(text_); }

    char** slot() { return &text_; }
    std::string text() const { return text_ ? std::string(text_) : std::string("(no message)"); }

private:
    char* text_ = nullptr;
};

// Failed allocations surface as std::bad_alloc, as everywhere else in C++.
inline void throw_if_no_memory(std::int32_t code) {
    if (code == TARVO_BRIDGE_NO_MEMORY) {
        throw std::bad_alloc();
    }
}

}  // namespace clarabel_bridge::detail
