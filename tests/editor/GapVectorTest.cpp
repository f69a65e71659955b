#include "editor/GapVector.h"

#include <QString>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace editor;

namespace {

// Strings, so the sanitizer sees any element moved twice, lost or left
// constructed in the gap.
std::vector<QString> Contents(const TGapVector<QString>& v)
{
    std::vector<QString> out;
    for (int i = 0; i < v.Count(); ++i)
        out.push_back(v[i]);
    return out;
}

} // namespace

TEST(GapVector, EditsAtRandomPositionsMatchAPlainVector)
{
    std::mt19937 rng(7);
    auto pick = [&](int n) { return n > 0 ? int(rng() % unsigned(n)) : 0; };
    for (int round = 0; round < 40; ++round) {
        TGapVector<QString> v;
        std::vector<QString> model;
        std::string ops;
        for (int step = 0; step < 400; ++step) {
            const QString s = QString::number(round * 1000 + step);
            const int size = int(model.size());
            const unsigned op = rng() % 8;
            ops += std::to_string(op) + " ";
            switch (op) {
            case 0:
            case 1: {
                const int i = pick(size + 1);
                v.Insert(i, s);
                model.insert(model.begin() + i, s);
                break;
            }
            case 2: {
                const int i = pick(size + 1), n = pick(6);
                v.InsertMade(i, n, [&](int k) { return s + QChar(u'a' + k); });
                for (int k = n - 1; k >= 0; --k)
                    model.insert(model.begin() + i, s + QChar(u'a' + k));
                break;
            }
            case 3:
                if (size > 0) {
                    const int i = pick(size), n = 1 + pick(std::min(5, size - i));
                    v.Erase(i, n);
                    model.erase(model.begin() + i, model.begin() + i + n);
                }
                break;
            case 4:
                if (size > 0) {
                    const int i = pick(size);
                    v[i] = s; // replace in place
                    model[std::size_t(i)] = s;
                }
                break;
            case 5:
                v.Append(s);
                model.push_back(s);
                break;
            case 6:
                // A failing element leaves the vector as it was.
                if (rng() % 4 == 0) {
                    const int i = pick(size + 1);
                    EXPECT_THROW(v.InsertMade(i, 3,
                                     [&](int k) -> QString {
                                         if (k == 2)
                                             throw std::runtime_error("no");
                                         return s;
                                     }),
                        std::runtime_error);
                }
                break;
            case 7:
                if (rng() % 10 == 0) {
                    v.Clear();
                    model.clear();
                } else {
                    v.SetCapacity(size + pick(8)); // moves the gap's tail
                }
                break;
            }
            ASSERT_EQ(v.Count(), int(model.size())) << "round " << round << ": " << ops;
            ASSERT_GE(v.Capacity(), v.Count());
            ASSERT_EQ(Contents(v), model) << "round " << round << ": " << ops;
        }
    }
}
