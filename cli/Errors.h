#pragma once
// How the client reports failures: the operation that failed, the HRESULT,
// its symbolic name where the system uses one, and the platform's message.
#include <windows.h>
#include <stdexcept>
#include <string>

namespace cli {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitStopped = 130 };

// A failed COM call: what was called and what it answered.
class Failure : public std::runtime_error {
public:
    Failure(std::string operation, HRESULT hr, std::string hint = {})
        : std::runtime_error(operation), m_operation(std::move(operation)), m_hr(hr), m_hint(std::move(hint))
    {
    }
    const std::string& Operation() const noexcept { return m_operation; }
    HRESULT Code() const noexcept { return m_hr; }
    const std::string& Hint() const noexcept { return m_hint; }

private:
    std::string m_operation;
    HRESULT m_hr;
    std::string m_hint;
};

// A mistake in what the user asked for (exit code 2, nothing written).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws Failure(operation, hr) for a failure code.
HRESULT Check(HRESULT hr, const char* operation);

// "0x80070057 E_INVALIDARG: The parameter is incorrect."
std::string DescribeHr(HRESULT hr);

} // namespace cli
