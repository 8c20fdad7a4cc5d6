// Rows per second of the archive row formatter for a day archive template of
// typical width, and the cost of one number text.
#include "archive/Procedures.h"
#include "archive/RowFormat.h"

#include <benchmark/benchmark.h>
#include <bit>
#include <cstring>
#include <vector>

namespace {

const char* const DayTemplate =
    "DATE HOUR ERRORCODE MODES TNORM TMIN TMAX TDELTAT TSUHOST TAVARIA TNKP sTNORM "
    "Q1 Q2 M1 M2 M3 M4 T1 T2 T3 T4 P1 P2 sQ1 sQ2 sM1 sM2 sM3 sM4\n";

void PutFloat(std::vector<std::uint8_t>& row, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8)
        row.push_back(static_cast<std::uint8_t>(bits >> shift));
}

// One day row: date, hour, two codes, seven 2-byte minute counters, a 3-byte
// counter and eighteen floats of the magnitudes a heat meter reports.
std::vector<std::uint8_t> DayRow() {
    std::vector<std::uint8_t> row = {0x17, 0x03, 0x24, 0x00, 0x00, 0x04};
    for (int minutes : {1440, 0, 12, 3, 0, 0, 7}) {
        row.push_back(static_cast<std::uint8_t>(minutes));
        row.push_back(static_cast<std::uint8_t>(minutes >> 8));
    }
    row.insert(row.end(), {0x40, 0xE2, 0x01}); // 123456 minutes
    for (float v : {12.3456f, 0.0421f, 1523.25f, 1498.7f, 0.0f, 0.0f, 71.53f, 44.02f, 5.6f, 0.0f, 6.1f, 2.4f,
                    48213.77f, 12.0f, 9876543.0f, 9801234.5f, 0.0f, 0.0f})
        PutFloat(row, v);
    return row;
}

void BM_FormatDayRow(benchmark::State& state) {
    ShablonDescriptor descriptor;
    AnalizShablonStrArhiva(DayTemplate, 1, descriptor);
    const std::vector<std::uint8_t> received = DayRow();
    if (static_cast<int>(received.size()) != DescriptorWidth(descriptor)) state.SkipWithError("row width");
    std::uint8_t area[RowAreaSize] = {};
    std::string line;
    for (auto _ : state) {
        // The transfer copies every row into the area; the formatter reverses floats there.
        std::memcpy(area, received.data(), received.size());
        line.clear();
        FormatStrArhivToStrFile(descriptor, area, static_cast<int>(received.size()), ',', line);
        benchmark::DoNotOptimize(line.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("rows");
}
BENCHMARK(BM_FormatDayRow);

void BM_FormatGeneral(benchmark::State& state) {
    const double value = 1498.7f;
    for (auto _ : state)
        benchmark::DoNotOptimize(FormatGeneral(value, ',', ArchiveGeneral));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatGeneral);

} // namespace

BENCHMARK_MAIN();
