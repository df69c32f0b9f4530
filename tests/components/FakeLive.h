#pragma once
// The fake objects alive in the process, by name, so that a test can count
// them and make them report at a moment of its choosing (a late report from
// a component that the system still holds, for instance).
#include <windows.h>
#include <string>
#include <vector>

namespace fakes {

class FakeComponent;

void ListLive(FakeComponent* component);
void UnlistLive(FakeComponent* component) noexcept;
// The live objects of that name, each with one reference that the caller
// releases; objects already on their way out are left alone.
std::vector<FakeComponent*> LiveNamed(const std::string& name);

} // namespace fakes

extern "C" {
// Live objects of the fake `name`.
LONG FakeCountLive(const char* name);
// Makes every live object of the fake `name` report, on the calling thread:
// kind 0 StateChange(a), kind 1 ProgressChange(a, b). Answers how many did.
LONG FakeFire(const char* name, LONG kind, LONG a, LONG b);
}
