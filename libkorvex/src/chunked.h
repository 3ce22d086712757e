#pragma once
// De-chunks a body sent with "Transfer-Encoding: chunked" as its bytes arrive.
#include <cstddef>
#include <cstdint>

class chunk_decoder {
public:
    enum class State { SizeLine, SizeExtension, Data, DataEnd, Trailer, Done, Bad };

    // Decodes in place: the chunk data of `bytes` is moved to its front.
    // Returns the number of data bytes; the state tells whether the body ended.
    size_t decode(char* bytes, size_t n);
    State state() const { return state_; }
    bool finished() const { return state_ == State::Done || state_ == State::Bad; }

private:
    bool size_digit(char c);

    State state_ = State::SizeLine;
    uint64_t remaining_ = 0;
    int digits_ = 0;
    size_t lineLength_ = 0;
};
