#include "fake_shell_routes.h"

namespace test_support
{
namespace
{
fake_shell_routes fakes;

shell_route_call record(const std::wstring& file, const std::wstring& parameters)
{
    shell_route_call call{file, parameters, APTTYPE_CURRENT, S_OK};
    APTTYPEQUALIFIER qualifier{};
    call.apartment_result = CoGetApartmentType(&call.apartment, &qualifier);
    return call;
}

HRESULT fake_first(const std::wstring& file, const std::wstring& parameters)
{
    fakes.first_calls.push_back(record(file, parameters));
    return fakes.first_answer;
}

HRESULT fake_second(const std::wstring& file, const std::wstring& parameters)
{
    fakes.second_calls.push_back(record(file, parameters));
    return fakes.second_answer;
}
} // namespace

shell_routes_override::shell_routes_override()
{
    fakes = fake_shell_routes{};
    previous_ = shell_launch_detail::replace_shell_routes({&fake_first, &fake_second});
}

shell_routes_override::~shell_routes_override()
{
    shell_launch_detail::replace_shell_routes(previous_);
}

fake_shell_routes& shell_routes_override::routes() noexcept
{
    return fakes;
}

void shell_routes_override::use_real_second_route() noexcept
{
    shell_launch_detail::replace_shell_routes({&fake_first, &shell_launch_detail::execute_through_desktop_view});
}
} // namespace test_support
