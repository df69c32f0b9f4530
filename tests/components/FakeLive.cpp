#include "components/FakeLive.h"

#include <algorithm>

#include "vembro/com/Resource.h"
#include "components/FakeComponent.h"

namespace fakes {
namespace {

struct LiveList {
    vembro::CriticalSection cs;
    std::vector<FakeComponent*> objects;
};

LiveList& Live()
{
    static LiveList list;
    return list;
}

} // namespace

void ListLive(FakeComponent* component)
{
    LiveList& l = Live();
    auto lock = l.cs.Lock();
    l.objects.push_back(component);
}

void UnlistLive(FakeComponent* component) noexcept
{
    LiveList& l = Live();
    auto lock = l.cs.Lock();
    l.objects.erase(std::remove(l.objects.begin(), l.objects.end(), component), l.objects.end());
}

std::vector<FakeComponent*> LiveNamed(const std::string& name)
{
    std::vector<FakeComponent*> found;
    LiveList& l = Live();
    auto lock = l.cs.Lock();
    found.reserve(l.objects.size());
    // An object whose count has reached zero is being destroyed and waits
    // for this lock to leave the list: it must not be revived.
    for (FakeComponent* c : l.objects) {
        if (c->Name() == name && c->TryAddRef())
            found.push_back(c);
    }
    return found;
}

} // namespace fakes

extern "C" {

LONG FakeCountLive(const char* name)
try {
    std::vector<fakes::FakeComponent*> found = fakes::LiveNamed(name ? name : "");
    for (auto* c : found)
        c->Release();
    return static_cast<LONG>(found.size());
} catch (...) {
    return -1;
}

LONG FakeFire(const char* name, LONG kind, LONG a, LONG b)
try {
    std::vector<fakes::FakeComponent*> found = fakes::LiveNamed(name ? name : "");
    for (auto* c : found) {
        c->Inject(kind, a, b);
        c->Release();
    }
    return static_cast<LONG>(found.size());
} catch (...) {
    return -1;
}
}
