#pragma once
// Stand-ins for the two shell routes of launch_via_shell, for the cases Wine cannot produce: a shell
// that refuses both ways. Each records what it was handed and the apartment of the calling thread.

#include "commands/shell_launch.h"

#include <objbase.h>

#include <string>
#include <vector>

namespace test_support
{
struct shell_route_call
{
    std::wstring file;
    std::wstring parameters;
    APTTYPE apartment;
    // CoGetApartmentType's answer: CO_E_NOTINITIALIZED on a thread without COM.
    HRESULT apartment_result;
};

struct fake_shell_routes
{
    std::vector<shell_route_call> first_calls;
    std::vector<shell_route_call> second_calls;
    HRESULT first_answer = E_ACCESSDENIED;
    HRESULT second_answer = E_ACCESSDENIED;
};

// Routes launch_via_shell to the fakes for the lifetime of the object; one at a time.
class shell_routes_override
{
public:
    shell_routes_override();
    ~shell_routes_override();
    shell_routes_override(const shell_routes_override&) = delete;
    shell_routes_override& operator=(const shell_routes_override&) = delete;

    fake_shell_routes& routes() noexcept;

    // The second route is the real desktop-view route instead of a fake.
    void use_real_second_route() noexcept;

private:
    shell_launch_detail::shell_routes previous_;
};
} // namespace test_support
