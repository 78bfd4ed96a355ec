#include <string>
#include <vector>

#include "framework/classes.h"
#include "gtest/gtest.h"

using namespace fw;

namespace {
std::vector<std::string> gLog;

class Probe : public TComponent {
public:
    Probe(TComponent* owner, std::string name) : TComponent(owner) { Name = std::move(name); }
    ~Probe() override {
        // A component being destroyed must already be detached from its owner.
        gLog.push_back(Name + (Owner() ? " still owned" : " detached"));
    }
    void Notification(TComponent* c, TOperation op) override {
        if (op == TOperation::opRemove) {
            gLog.push_back(Name + " told " + c->Name + " goes");
            if (c == watched) watched = nullptr;
        }
    }
    TComponent* watched = nullptr;
};
}  // namespace

TEST(Component, OwnerDestroysItsComponentsNewestFirstDetachingEach) {
    gLog.clear();
    auto* owner = new Probe(nullptr, "owner");
    new Probe(owner, "a");
    new Probe(owner, "b");
    auto* c = new Probe(owner, "c");
    new Probe(c, "c1");
    EXPECT_EQ(owner->ComponentCount(), 3);
    delete owner;
    // Each destructor body logs before its own components go: the owner
    // first, then its components newest first, each already detached.
    std::vector<std::string> want = {"owner detached", "c detached", "c1 detached", "b detached", "a detached"};
    EXPECT_EQ(gLog, want);
}

TEST(Component, DeletingAComponentRemovesItFromItsOwnerAndNotifiesSiblings) {
    gLog.clear();
    Probe owner(nullptr, "owner");
    auto* a = new Probe(&owner, "a");
    auto* b = new Probe(&owner, "b");
    b->watched = a;
    delete a;
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(b->watched, nullptr);
}

TEST(Component, FreeNotificationReachesAComponentOfAnotherOwner) {
    gLog.clear();
    Probe ownerA(nullptr, "A"), ownerB(nullptr, "B");
    auto* ras = new Probe(&ownerA, "ras");
    auto* sock = new Probe(&ownerB, "sock");
    sock->watched = ras;
    sock->FreeNotification(ras);
    delete ras;
    EXPECT_EQ(sock->watched, nullptr);
}
