#include <algorithm>
#include <cmath>
#include <random>

#include <UT_Vector3.h>
#include <gtest/gtest.h>

namespace {

// Orders by x only, so that elements of equal x tie: one says so with 0, the way a three-way
// comparison does, the other with 1, the way a comparator that never returns 0 does.
int byXThreeWay(const UT_Vector3* a, const UT_Vector3* b) {
    return (*a)[0] < (*b)[0] ? -1 : ((*a)[0] > (*b)[0] ? 1 : 0);
}
int byXNeverZero(const UT_Vector3* a, const UT_Vector3* b) {
    return (*a)[0] < (*b)[0] ? -1 : 1;
}

std::mt19937 rng(7);
// Answers at random: no consistent order at all.
int chaotic(const UT_Vector3*, const UT_Vector3*) {
    return rng() % 2 ? -1 : 1;
}
int alwaysBefore(const UT_Vector3*, const UT_Vector3*) {
    return -1;
}

TEST(VectorSort, SortsStablyWhateverTheComparatorSaysOfTies) {
    for (auto compare : {byXThreeWay, byXNeverZero}) {
        // Ten values of x, each ten times; z records the original position. Sizes that are not
        // powers of two leave a short last run in every pass.
        for (int n : {2, 3, 37, 100}) {
            UT_Vector3Array a;
            for (int i = 0; i < n; ++i)
                a.append(UT_Vector3(static_cast<float>((i * 7) % 10), 0, static_cast<float>(i)));
            a.sort(compare);
            for (long long i = 1; i < a.entries(); ++i) {
                ASSERT_LE(a(i - 1)[0], a(i)[0]) << "n " << n;
                if (a(i - 1)[0] == a(i)[0]) {
                    ASSERT_LT(a(i - 1)[2], a(i)[2]) << "ties keep their order, n " << n;
                }
            }
        }
    }
}

// Run under AddressSanitizer: an inconsistent comparator must neither loop nor leave the array.
TEST(VectorSort, InconsistentComparatorsStillGiveAPermutation) {
    for (auto compare : {chaotic, alwaysBefore}) {
        for (int n : {0, 1, 2, 3, 17, 1000}) {
            UT_Vector3Array a;
            for (int i = 0; i < n; ++i)
                a.append(UT_Vector3(static_cast<float>(i), 0, 0));
            a.sort(compare);
            std::vector<bool> seen(static_cast<size_t>(n), false);
            for (long long i = 0; i < a.entries(); ++i)
                seen[static_cast<size_t>(a(i)[0])] = true;
            EXPECT_EQ(std::count(seen.begin(), seen.end(), true), n);
        }
    }
}

TEST(VectorFind, UsesFloatEquality) {
    UT_Vector3Array a;
    a.append(UT_Vector3(0.0f, 1, 1));
    a.append(UT_Vector3(std::nanf(""), 1, 1));
    EXPECT_EQ(a.find(UT_Vector3(-0.0f, 1, 1)), 0);
    EXPECT_EQ(a.find(a(1)), -1);
    EXPECT_EQ(a.find(UT_Vector3(0.0f, 1, 1), 1), -1);
}

}  // namespace
