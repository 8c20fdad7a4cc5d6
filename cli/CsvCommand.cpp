// csv: an archive file written by this program as CSV for spreadsheets, with
// the decimal separator of the user's locale when it is a comma, else a point.
#include "archive/ArchiveCsv.h"
#include "base/Messages.h"
#include "cli/Commands.h"

#include <cerrno>

namespace {

// day.txt -> day.csv; a name without an extension gets one.
std::string CsvPathBeside(const std::string& input) {
    const auto slash = input.find_last_of('/');
    const auto dot = input.find_last_of('.');
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (extension ? input.substr(0, dot) : input) + ".csv";
}

} // namespace

int RunCsv(CliRun& run) {
    const std::string& input = run.args.Input;
    const auto table = ReadArchiveFile(input);
    if (!table) return run.Fail(ExitStatus::Failed, input + ": " + SystemErrorText(errno));
    for (const auto& p : table->Problems)
        run.Progress(input + ": " + p.Text);
    if (table->MoreProblems > 0)
        run.Progress(input + ": и ещё строк с ошибками: " + std::to_string(table->MoreProblems));
    if (table->Columns.empty()) return run.Fail(ExitStatus::Failed, input + ": это не архив, CSV не записан");
    const std::string csv = ArchiveCsv(*table, run.decimalSeparator == ',' ? ',' : '.');
    if (run.args.Output == "-") {
        std::fwrite(csv.data(), 1, csv.size(), run.out);
        return 0;
    }
    const std::string output = run.args.Output.empty() ? CsvPathBeside(input) : run.args.Output;
    if (!WriteArchiveCsv(output, csv))
        return run.Fail(ExitStatus::FileNotWritten, output + ": " + SystemErrorText(errno));
    run.Progress("Записано строк: " + std::to_string(table->Rows.size()) + " в " + output);
    return 0;
}
