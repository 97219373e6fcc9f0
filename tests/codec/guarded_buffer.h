#ifndef VORSEL_TESTS_CODEC_GUARDED_BUFFER_H
#define VORSEL_TESTS_CODEC_GUARDED_BUFFER_H

#include <cstddef>
#include <string>

// A buffer whose last byte lies right before an inaccessible page, so that any access past its
// end kills the process. The bytes before it on the same page hold a known filler, so that a
// test can also tell whether a writer touched memory in front of the buffer.
class GuardedBuffer
{
public:
    explicit GuardedBuffer(std::size_t size);
    // A buffer of exactly the given bytes (no NUL is added).
    explicit GuardedBuffer(const std::string &content);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;

    char *data() const { return data_; }
    std::size_t size() const { return size_; }
    std::string content() const { return std::string(data_, size_); }
    bool frontUntouched() const;

    static constexpr char filler = '\xA5';

private:
    char *mapping_ = nullptr;
    std::size_t pageSize_ = 0;
    char *data_ = nullptr;
    std::size_t size_ = 0;
};

#endif
