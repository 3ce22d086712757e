#include "chunked.h"

#include <cstring>

namespace {
// Chunk sizes beyond 2^60 bytes are no reply of an appliance.
constexpr int kMaxSizeDigits = 15;

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

bool chunk_decoder::size_digit(char c) {
    const int v = hex_value(c);
    if (v < 0 || ++digits_ > kMaxSizeDigits) return false;
    remaining_ = remaining_ * 16 + static_cast<uint64_t>(v);
    return true;
}

size_t chunk_decoder::decode(char* bytes, size_t n) {
    size_t out = 0;
    for (size_t i = 0; i < n && !finished();) {
        const char c = bytes[i];
        switch (state_) {
            case State::SizeLine:
            case State::SizeExtension:
                ++i;
                if (c == '\n') {
                    if (digits_ == 0) state_ = State::Bad;
                    else state_ = remaining_ ? State::Data : State::Trailer;
                    digits_ = 0;
                    lineLength_ = 0;
                } else if (c == '\r' || state_ == State::SizeExtension) {
                } else if (c == ';' || c == ' ' || c == '\t') {
                    state_ = State::SizeExtension;
                } else if (!size_digit(c)) {
                    state_ = State::Bad;
                }
                break;
            case State::Data: {
                const size_t take = remaining_ < n - i ? static_cast<size_t>(remaining_) : n - i;
                std::memmove(bytes + out, bytes + i, take);
                out += take;
                i += take;
                remaining_ -= take;
                if (remaining_ == 0) state_ = State::DataEnd;
                break;
            }
            case State::DataEnd:
                ++i;
                if (c == '\n') state_ = State::SizeLine;
                else if (c != '\r') state_ = State::Bad;
                break;
            case State::Trailer:
                ++i;
                if (c == '\n') {
                    if (lineLength_ == 0) state_ = State::Done;
                    lineLength_ = 0;
                } else if (c != '\r') {
                    ++lineLength_;
                }
                break;
            case State::Done:
            case State::Bad: break;
        }
    }
    return out;
}
