// The descriptor the working directory is created with, read back from the
// bytes handed to the creating call (Wine takes a DACL at creation but keeps
// one made from the Unix mode, so the object itself is what can be checked).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/private_descriptor.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>
#endif

namespace {

typedef std::vector<unsigned char> Bytes;

const Bytes kSystem = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const Bytes kAdministrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
// S-1-5-21-1-2-3-1001, a user's.
const Bytes kUser = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xE9, 3, 0, 0};

// A SID with the most sub-authorities there may be, 15.
Bytes LongestSid() {
    Bytes sid = {1, 15, 0, 0, 0, 0, 0, 5};
    for (unsigned char i = 1; i <= 15; ++i) {
        sid.insert(sid.end(), {i, 0, 0, 0});
    }
    return sid;
}

unsigned Word(const unsigned char* at) {
    return at[0] | (at[1] << 8);
}

unsigned long Long(const unsigned char* at) {
    return Word(at) | (static_cast<unsigned long>(Word(at + 2)) << 16);
}

struct Entry {
    unsigned type;
    unsigned flags;
    unsigned long mask;
    Bytes sid;
    bool operator==(const Entry& other) const {
        return type == other.type && flags == other.flags && mask == other.mask && sid == other.sid;
    }
};

// The descriptor's control word and DACL entries, as the system reads a
// self-relative one; fails the test on any inconsistency.
std::vector<Entry> ReadDescriptor(const PrivateDescriptor& descriptor, unsigned* control) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(descriptor.Words);
    EXPECT_EQ(bytes[0], 1);  // revision
    *control = Word(bytes + 2);
    EXPECT_EQ(Long(bytes + 4), 0UL);   // no owner: the creator's default owner is set
    EXPECT_EQ(Long(bytes + 8), 0UL);   // no group
    EXPECT_EQ(Long(bytes + 12), 0UL);  // no SACL
    const unsigned long daclAt = Long(bytes + 16);
    EXPECT_EQ(daclAt, 20UL);
    const unsigned char* acl = bytes + daclAt;
    EXPECT_EQ(acl[0], 2);  // ACL_REVISION
    const unsigned aclSize = Word(acl + 2);
    const unsigned count = Word(acl + 4);
    EXPECT_LE(daclAt + aclSize, static_cast<unsigned long>(PrivateDescriptorSize));
    std::vector<Entry> entries;
    unsigned at = 8;
    for (unsigned i = 0; i < count && at + 8 <= aclSize; ++i) {
        const unsigned char* ace = acl + at;
        const unsigned size = Word(ace + 2);
        EXPECT_EQ(size % 4, 0U);
        EXPECT_EQ(size, 8 + SidSize(ace + 8, size - 8));
        entries.push_back({ace[0], ace[1], Long(ace + 4), Bytes(ace + 8, ace + size)});
        at += size;
    }
    EXPECT_EQ(at, aclSize);
    return entries;
}

}  // namespace

TEST(PrivateDescriptor, GrantsFullControlToSystemAdministratorsAndTheOwnerOnly) {
    const unsigned long fullControl = 0x1F01FF;
    const unsigned inherited = 3;  // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
    const struct {
        const char* name;
        Bytes owner;
        int inheritable;
        std::vector<Bytes> sids;
    } cases[] = {
        {"a user", kUser, 1, {kSystem, kAdministrators, kUser}},
        // Elevated, or run as SYSTEM: the owner is one of the two already.
        {"elevated", kAdministrators, 1, {kSystem, kAdministrators}},
        {"system", kSystem, 1, {kSystem, kAdministrators}},
        {"a file", kUser, 0, {kSystem, kAdministrators, kUser}},
        {"an owner with 15 sub-authorities", LongestSid(), 1, {kSystem, kAdministrators, LongestSid()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrivateDescriptor descriptor;
        ASSERT_EQ(BuildPrivateDescriptor(c.owner.data(), c.owner.size(), c.inheritable, &descriptor), 1);
        unsigned control = 0;
        std::vector<Entry> expected;
        for (const Bytes& sid : c.sids) {
            expected.push_back({0, c.inheritable != 0 ? inherited : 0, fullControl, sid});
        }
        EXPECT_EQ(ReadDescriptor(descriptor, &control), expected);
        // DACL present, protected from what the temporary directory would pass on, self-relative.
        EXPECT_EQ(control, 0x0004U | 0x1000U | 0x8000U);
    }
}

TEST(PrivateDescriptor, RefusesAMalformedOwner) {
    Bytes tooShort(kUser.begin(), kUser.end() - 1);
    Bytes badRevision = kUser;
    badRevision[0] = 2;
    Bytes tooMany = kUser;
    tooMany[1] = 16;
    tooMany.resize(8 + 4 * 16);
    for (const Bytes& owner : {tooShort, badRevision, tooMany, Bytes()}) {
        PrivateDescriptor descriptor;
        EXPECT_EQ(BuildPrivateDescriptor(owner.data(), owner.size(), 1, &descriptor), 0);
    }
}

#ifdef _WIN32
// The system's own reading of the same bytes.
TEST(PrivateDescriptor, ReadsAsTheIntendedDescriptorOnWindows) {
    PrivateDescriptor descriptor;
    ASSERT_EQ(BuildPrivateDescriptor(kUser.data(), kUser.size(), 1, &descriptor), 1);
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor.Words));
    LPSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor.Words, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_EQ(std::string(text), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)");
    LocalFree(text);
}
#endif
