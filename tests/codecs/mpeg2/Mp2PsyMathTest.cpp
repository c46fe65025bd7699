#include "codecs/mpeg2/Mp2PsyMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The model's range and beyond it: dB from far below silence to far above
// full scale, powers from below the floor to very large.
std::vector<double> Decibels() {
    std::vector<double> v;
    for (double db = -1500.0; db <= 1500.0; db += 0.37) v.push_back(db);
    for (double db : {0.0, -0.0, 1e-12, -1e-12, 90.309, -200.0, 3000.0, -3000.0}) v.push_back(db);
    return v;
}

std::vector<double> Powers() {
    std::vector<double> v;
    for (double e = -30.0; e <= 30.0; e += 0.013) v.push_back(std::pow(10.0, e));
    for (double p : {0.0, 1e-20, 9.9e-21, 1.0, 2.0, 1.4142135623730951, 0.7071067811865476, 1e300}) v.push_back(p);
    return v;
}

TEST(Mp2PsyMath, ManyAtATimeGiveTheBitsOfOneAtATime) {
    const std::vector<double> db = Decibels();
    std::vector<double> many(db.size());
    mp2::PowOfDb(db.data(), many.data(), static_cast<int>(db.size()));
    for (size_t i = 0; i < db.size(); ++i) {
        const double one = mp2::PowOfDb(db[i]);
        ASSERT_EQ(std::memcmp(&one, &many[i], sizeof one), 0) << "10^(" << db[i] << "/10)";
    }
    const std::vector<double> p = Powers();
    std::vector<double> logs(p.size());
    mp2::DbOfPower(p.data(), logs.data(), static_cast<int>(p.size()));
    for (size_t i = 0; i < p.size(); ++i) {
        const double one = mp2::DbOfPower(p[i]);
        ASSERT_EQ(std::memcmp(&one, &logs[i], sizeof one), 0) << "dB of " << p[i];
    }
}

TEST(Mp2PsyMath, WithinAFewUnitsInTheLastPlaceOfTheLibrary) {
    for (double db : Decibels()) {
        if (std::fabs(db) > 2990.0) continue;  // beyond what a double holds the results are limited alike
        const double want = std::exp(db * 0.23025850929940456840);
        EXPECT_NEAR(mp2::PowOfDb(db), want, want * 4e-16) << db;
    }
    for (double p : Powers()) {
        const double want = 10.0 * std::log10(std::max(p, 1e-20));
        EXPECT_NEAR(mp2::DbOfPower(p), want, 1e-12) << p;
    }
}

}  // namespace
