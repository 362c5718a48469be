#pragma once
// Every shell-facing method runs its body through com_boundary, so no exception leaves the DLL:
//   return com_boundary("EnumObjects", [&] { ...; return S_OK; });
// A standard exception is logged as "<method>: exception: <what>", anything else as
// "<method>: unknown exception"; the method then answers `failure` (E_OUTOFMEMORY for bad_alloc).

#include "base/log.h"

#include <windows.h>

#include <new>
#include <stdexcept>
#include <string>

// An HRESULT failure carried through internal code, with the call that failed.
class hresult_error : public std::runtime_error
{
public:
    hresult_error(HRESULT code, const std::string& call)
        : std::runtime_error(fmt::format("{} failed with HRESULT 0x{:X}", call, hresult_bits(code))), code_(code)
    {
    }
    HRESULT code() const noexcept { return code_; }

private:
    HRESULT code_;
};

inline void throw_if_failed(HRESULT hr, const char* call)
{
    if (FAILED(hr))
        throw hresult_error(hr, call);
}

template <class Body>
HRESULT com_boundary(const char* method, Body&& body, HRESULT failure = E_FAIL) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        log_caught_exception(method);
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        log_caught_exception(method);
        return failure;
    }
}
