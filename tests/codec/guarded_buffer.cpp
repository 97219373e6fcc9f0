#include "guarded_buffer.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

GuardedBuffer::GuardedBuffer(std::size_t size) : pageSize_(sysconf(_SC_PAGESIZE)), size_(size)
{
    if (size > pageSize_) {
        throw std::invalid_argument("guarded buffer larger than a page");
    }
    void *mapping =
        mmap(nullptr, 2 * pageSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        throw std::runtime_error("mmap failed");
    }
    mapping_ = static_cast<char *>(mapping);
    if (mprotect(mapping_ + pageSize_, pageSize_, PROT_NONE) != 0) {
        munmap(mapping_, 2 * pageSize_);
        throw std::runtime_error("mprotect failed");
    }
    std::memset(mapping_, static_cast<unsigned char>(filler), pageSize_);
    data_ = mapping_ + pageSize_ - size_;
}

GuardedBuffer::GuardedBuffer(const std::string &content) : GuardedBuffer(content.size())
{
    std::memcpy(data_, content.data(), content.size());
}

GuardedBuffer::~GuardedBuffer()
{
    munmap(mapping_, 2 * pageSize_);
}

bool GuardedBuffer::frontUntouched() const
{
    for (const char *byte = mapping_; byte != data_; ++byte) {
        if (*byte != filler) {
            return false;
        }
    }
    return true;
}
