// CSV lines of a poll's samples and the file they are logged to.
#include "console/PollCsv.h"

#include "archive/ArchiveCsv.h"
#include "archive/ArchiveFile.h"
#include "archive/Procedures.h"
#include "base/Files.h"
#include "base/LineLog.h"
#include "base/Paths.h"

#include <ctime>

std::string LocalIsoTimeText(std::int64_t wallMs) {
    const std::tm t = LocalTimeOf(static_cast<std::time_t>(wallMs / 1000));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(wallMs % 1000));
    return text;
}

std::string DefaultPollLogFile(std::int64_t wallMs) {
    const std::string dir = ArchiveDir();
    MakeFolder(dir);
    std::string stamp = LocalIsoTimeText(wallMs).substr(0, 19); // yyyy-mm-ddThh:mm:ss
    std::string name;
    for (char c : stamp)
        if (c >= '0' && c <= '9')
            name += c;
        else if (c == 'T')
            name += '-';
    return dir + "live-" + name + ".csv";
}

std::string PollCsvHeader(const PollSample& sample, char decimalSeparator) {
    const char separator = CsvFieldSeparator(decimalSeparator);
    std::string out = std::string(CsvTimeHeader) + separator + CsvAnswerTimeHeader;
    for (const auto& v : sample.Values) {
        out += separator;
        AppendCsvField(out, v.Name, separator);
    }
    return out + "\r\n";
}

std::string PollCsvRow(const PollSample& sample, char decimalSeparator) {
    const char separator = CsvFieldSeparator(decimalSeparator);
    std::string out = LocalIsoTimeText(sample.WallMs) + separator + std::to_string(sample.AnswerMs);
    for (const auto& v : sample.Values) {
        out += separator;
        AppendCsvField(
            out, PlainNumberText(FormatGeneral(v.Value, decimalSeparator, DecoderGeneral), decimalSeparator),
            separator);
    }
    return out + "\r\n";
}

bool PollCsvLog::Open(const std::string& path) {
    Close();
    file_ = OpenFile(path, "wb");
    if (!file_) return false;
    path_ = path;
    headerWritten_ = false;
    return std::fputs(CsvByteOrderMark, file_) >= 0 && std::fflush(file_) == 0;
}

bool PollCsvLog::Append(const PollSample& sample) {
    if (!file_) return false;
    std::string text;
    if (!headerWritten_) text = PollCsvHeader(sample, separator_);
    text += PollCsvRow(sample, separator_);
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file_) == text.size() && std::fflush(file_) == 0;
    if (!written) {
        Close();
        return false;
    }
    headerWritten_ = true;
    return true;
}

void PollCsvLog::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}
