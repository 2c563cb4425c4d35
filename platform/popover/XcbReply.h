#pragma once

#include <cstdlib>
#include <memory>

// A reply of libxcb, which the caller frees with free().
struct XcbReplyDeleter
{
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbReplyDeleter>;
