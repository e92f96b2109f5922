// Piecewise-linear interpolation: knots hit exactly, straight-line extrapolation, the running
// segment, and known lines and curves sampled at many points.
#include "interpolate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{

std::vector<double> interpolate(const std::vector<double>& x, const std::vector<double>& y,
                                const std::vector<double>& q)
{
    std::vector<double> r(q.size(), -999.0);
    interpolateLinear(x.data(), y.data(), static_cast<int>(x.size()), q.data(),
                      static_cast<int>(q.size()), r.data());
    return r;
}

const std::vector<double> knots = {0.0, 1.0, 3.0, 4.0, 8.0};
const std::vector<double> values = {2.0, -1.0, 5.0, 4.5, 0.5};

TEST(InterpolateLinear, QueriesAtTheEndKnotsGiveTheEndValues)
{
    const std::vector<double> r = interpolate(knots, values, {0.0, 8.0});
    EXPECT_EQ(r[0], 2.0);
    EXPECT_EQ(r[1], 0.5);
}

TEST(InterpolateLinear, QueriesAtInnerKnotsGiveTheirValues)
{
    const std::vector<double> r = interpolate(knots, values, {1.0, 3.0, 4.0});
    EXPECT_EQ(r[0], -1.0);
    EXPECT_EQ(r[1], 5.0);
    EXPECT_EQ(r[2], 4.5);
}

TEST(InterpolateLinear, AQueryAtAnInnerKnotBelongsToTheSegmentOnItsRight)
{
    // After the query at 3 the running segment is [3, 4], so the step back to 2 extends that
    // segment (slope -0.5) rather than [1, 3] (slope 3).
    const std::vector<double> r = interpolate(knots, values, {3.0, 2.0});
    EXPECT_EQ(r[0], 5.0);
    EXPECT_DOUBLE_EQ(r[1], 5.5);

    // On the right-hand segment t = 0, so the knot's value comes back exactly even where the
    // left-hand segment's arithmetic would round.
    const std::vector<double> x = {0.0, 0.1, 0.3, 0.7};
    const std::vector<double> y = {0.7, 0.2, 0.9, 0.3};
    const std::vector<double> atKnots = interpolate(x, y, {0.1, 0.3});
    EXPECT_EQ(atKnots[0], 0.2);
    EXPECT_EQ(atKnots[1], 0.9);
}

TEST(InterpolateLinear, InnerPointsLieOnTheirSegment)
{
    const std::vector<double> r = interpolate(knots, values, {0.5, 2.0, 2.5, 3.5, 6.0, 7.0});
    EXPECT_DOUBLE_EQ(r[0], 0.5);
    EXPECT_DOUBLE_EQ(r[1], 2.0);
    EXPECT_DOUBLE_EQ(r[2], 3.5);
    EXPECT_DOUBLE_EQ(r[3], 4.75);
    EXPECT_DOUBLE_EQ(r[4], 2.5);
    EXPECT_DOUBLE_EQ(r[5], 1.5);
}

TEST(InterpolateLinear, ExtrapolatesAlongTheEndSegmentsOnBothSides)
{
    // First segment slope -3, last segment slope -1.
    const std::vector<double> r = interpolate(knots, values, {-2.0, -0.5, 9.0, 12.0});
    EXPECT_DOUBLE_EQ(r[0], 8.0);
    EXPECT_DOUBLE_EQ(r[1], 3.5);
    EXPECT_DOUBLE_EQ(r[2], -0.5);
    EXPECT_DOUBLE_EQ(r[3], -3.5);
}

TEST(InterpolateLinear, TwoKnotsDescribeOneLineEverywhere)
{
    const std::vector<double> x = {10.0, 14.0};
    const std::vector<double> y = {1.0, 3.0};
    const std::vector<double> q = {-6.0, 10.0, 11.0, 14.0, 20.0};
    const std::vector<double> r = interpolate(x, y, q);
    for (size_t k = 0; k < q.size(); ++k)
        EXPECT_DOUBLE_EQ(r[k], 1.0 + 0.5 * (q[k] - 10.0)) << k;
    EXPECT_EQ(r[1], 1.0);
    EXPECT_EQ(r[3], 3.0);
}

TEST(InterpolateLinear, QueriesThatStepBackKeepTheRunningSegment)
{
    // After 3.5 the running segment is [3, 4]; 0.5 then extends that segment instead of using
    // [0, 1], and the segment never moves back.
    const std::vector<double> r = interpolate(knots, values, {3.5, 0.5, 3.5});
    EXPECT_DOUBLE_EQ(r[0], 4.75);
    EXPECT_DOUBLE_EQ(r[1], 5.0 + (-0.5) * (0.5 - 3.0));
    EXPECT_DOUBLE_EQ(r[2], 4.75);
}

TEST(InterpolateLinear, QueriesBelowTheFirstKnotAfterTheEndUseTheLastSegment)
{
    // 9 ends the pass; 2 comes later and is computed on the last segment [4, 8].
    const std::vector<double> r = interpolate(knots, values, {9.0, 2.0});
    EXPECT_DOUBLE_EQ(r[0], -0.5);
    EXPECT_DOUBLE_EQ(r[1], 4.5 + (-1.0) * (2.0 - 4.0));
}

TEST(InterpolateLinear, LeadingQueriesBelowTheFirstKnotThenInnerOnes)
{
    const std::vector<double> r = interpolate(knots, values, {-1.0, -1.0, 0.0, 1.0, 1.0, 8.0, 8.0});
    EXPECT_DOUBLE_EQ(r[0], 5.0);
    EXPECT_DOUBLE_EQ(r[1], 5.0);
    EXPECT_EQ(r[2], 2.0);
    EXPECT_EQ(r[3], -1.0);
    EXPECT_EQ(r[4], -1.0);
    EXPECT_EQ(r[5], 0.5);
    EXPECT_EQ(r[6], 0.5);
}

TEST(InterpolateLinear, ReproducesALineExactlyOnIrregularKnots)
{
    // A straight line is reproduced everywhere, inside and outside the knot range.
    std::vector<double> x, y;
    double position = -3.0;
    for (int j = 0; j < 40; ++j)
    {
        x.push_back(position);
        y.push_back(0.25 * position - 7.0);
        position += 0.1 + 0.05 * (j % 7);
    }
    std::vector<double> q;
    for (double t = -10.0; t < 20.0; t += 0.037)
        q.push_back(t);
    const std::vector<double> r = interpolate(x, y, q);
    for (size_t k = 0; k < q.size(); ++k)
        EXPECT_NEAR(r[k], 0.25 * q[k] - 7.0, 1e-12) << q[k];
}

TEST(InterpolateLinear, ApproximatesASmoothCurveWithinTheChordError)
{
    // Chord error of sin over a segment of width h is at most h^2/8.
    const int n = 101;
    const double h = 2.0 * M_PI / (n - 1);
    std::vector<double> x(n), y(n);
    for (int j = 0; j < n; ++j)
    {
        x[j] = j * h;
        y[j] = std::sin(x[j]);
    }
    std::vector<double> q;
    for (double t = 0.0; t <= 2.0 * M_PI; t += 0.001)
        q.push_back(t);
    const std::vector<double> r = interpolate(x, y, q);
    double worst = 0.0;
    for (size_t k = 0; k < q.size(); ++k)
        worst = std::max(worst, std::fabs(r[k] - std::sin(q[k])));
    EXPECT_LE(worst, h * h / 8.0 + 1e-12);
    EXPECT_GT(worst, h * h / 8.0 * 0.5);
}

TEST(InterpolateLinear, InputsAreNotModified)
{
    std::vector<double> x = knots, y = values;
    std::vector<double> q = {-1.0, 0.5, 3.0, 10.0};
    const std::vector<double> qCopy = q;
    interpolate(x, y, q);
    EXPECT_EQ(x, knots);
    EXPECT_EQ(y, values);
    EXPECT_EQ(q, qCopy);
}

TEST(InterpolateLinear, NoQueriesWritesNothing)
{
    double r = -5.0;
    interpolateLinear(knots.data(), values.data(), 5, nullptr, 0, &r);
    EXPECT_EQ(r, -5.0);
}

TEST(InterpolateLinear, DegenerateKnotSetsStayInBounds)
{
    const double x = 2.0, y = 7.0;
    const std::vector<double> q = {-1.0, 2.0, 5.0};
    std::vector<double> r(3, -999.0);
    interpolateLinear(&x, &y, 1, q.data(), 3, r.data());
    for (double v : r)
        EXPECT_EQ(v, 7.0);
    interpolateLinear(&x, &y, 0, q.data(), 3, r.data());
    for (double v : r)
        EXPECT_EQ(v, 0.0);
}

TEST(InterpolateLinear, RepeatedEndKnotsHoldTheEndValue)
{
    const std::vector<double> x = {0.0, 0.0, 1.0, 2.0, 2.0};
    const std::vector<double> y = {4.0, 5.0, 6.0, 7.0, 9.0};
    const std::vector<double> r = interpolate(x, y, {-1.0, 0.5, 3.0});
    EXPECT_EQ(r[0], 4.0);
    EXPECT_DOUBLE_EQ(r[1], 5.5);
    EXPECT_EQ(r[2], 9.0);
    for (double v : r)
        EXPECT_TRUE(std::isfinite(v));
}

} // namespace
