#pragma once
// Figures from a shared, noisy machine: every measurement is repeated, and
// what is reported is the median with the whole spread beside it, never a
// best case.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

class Samples {
public:
    void Add(double v) { m_values.push_back(v); }
    size_t Count() const noexcept { return m_values.size(); }
    double Median() const
    {
        if (m_values.empty())
            return 0;
        std::vector<double> v = Sorted();
        size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    double Min() const { return m_values.empty() ? 0 : *std::min_element(m_values.begin(), m_values.end()); }
    double Max() const { return m_values.empty() ? 0 : *std::max_element(m_values.begin(), m_values.end()); }
    // "median 1.234 (1.200 .. 1.400)", each value scaled and printed with `format`.
    std::string Describe(const char* format = "%.3f", double scale = 1.0) const
    {
        char median[32], low[32], high[32], text[128];
        std::snprintf(median, sizeof median, format, Median() * scale);
        std::snprintf(low, sizeof low, format, Min() * scale);
        std::snprintf(high, sizeof high, format, Max() * scale);
        std::snprintf(text, sizeof text, "median %s (%s .. %s)", median, low, high);
        return text;
    }

private:
    std::vector<double> Sorted() const
    {
        std::vector<double> v = m_values;
        std::sort(v.begin(), v.end());
        return v;
    }
    std::vector<double> m_values;
};

} // namespace bench
