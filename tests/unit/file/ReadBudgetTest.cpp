// Reads past the budget wait their turn in order; one larger than the budget goes alone.
#include <gtest/gtest.h>

#include <string>

#include "plugins/file/ReadBudget.h"

using penwick::ReadBudget;

TEST(ReadBudget, ReadsPastTheBudgetWaitInOrderAndALargeOneGoesAlone)
{
    auto budget = ReadBudget::create(100);
    std::string started;
    ReadBudget::Lease a, b, c, d;
    budget->admit(60, [&](ReadBudget::Lease lease) { started += 'a', a = std::move(lease); });
    budget->admit(50, [&](ReadBudget::Lease lease) { started += 'b', b = std::move(lease); });
    // It would fit, but comes after one that waits.
    budget->admit(10, [&](ReadBudget::Lease lease) { started += 'c', c = std::move(lease); });
    budget->admit(500, [&](ReadBudget::Lease lease) { started += 'd', d = std::move(lease); });
    EXPECT_EQ(started, "a");
    a.reset();
    EXPECT_EQ(std::pair(started, budget->bytesHeld()), std::pair(std::string("abc"), std::uint64_t(60)));
    b.reset();
    c.reset();
    EXPECT_EQ(std::pair(started, budget->bytesHeld()), std::pair(std::string("abcd"), std::uint64_t(500)));
    // A lease outliving its budget lets go quietly.
    budget.reset();
    d.reset();
}
