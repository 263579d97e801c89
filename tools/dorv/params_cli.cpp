#include "params_cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "driver/tvm30.h"
#include "number_options.h"
#include "params/entry_transfer.h"
#include "params/parameter_set.h"
#include "platform/ini_file.h"
#include "watched_link.h"

namespace dorv::tools {
namespace {

constexpr const char* kSection = "Parametr";
// A partial save lists here the parameters it could not read (their keys are left out of
// "Parametr", so loading the file leaves them as they are).
constexpr const char* kNotReadSection = "NotRead";
constexpr int kFailed = 1;

// Catalogue positions whose value a file held or a read brought.
using Marks = std::vector<bool>;

// A progress bar on a terminal, one line per entry otherwise.
void Progress(std::ostream& out, const char* verb, int done, int total, const params::CParameter& entry, const std::string& outcome) {
    if (::isatty(2) != 0) {
        const int width = 30;
        const int filled = total ? done * width / total : width;
        std::fprintf(stderr, "\r%s [%.*s%*s] %2d/%d  %-60.60s", verb, filled, "##############################", width - filled, "", done,
                     total, entry.Name().c_str());
        if (done == total) std::fputc('\n', stderr);
    } else {
        out << verb << ' ' << done << '/' << total << "  " << entry.Number() << ' ' << outcome << '\n';
    }
}

void PrintSet(std::ostream& out, const params::ParameterSet& set) {
    const auto& catalogue = set.Catalogue();
    for (std::int32_t i = params::kFirstNumberedPosition; i < catalogue.GetCount(); ++i) {
        const params::CParameter& e = catalogue.GetParameter(i);
        char number[8];
        std::snprintf(number, sizeof number, "%3d", e.Number());
        out << number << "  " << (e.ReadError() ? std::string("Ошибка чтения!") : e.ReadText()) << "\t" << e.Name() << '\n';
    }
}

// The value as the window's "Запись" column shows it; the plain number when it has no text
// there (it does not fit its field).
std::string Shown(const params::ParameterSet& set, std::int32_t position) {
    const std::string text = set.ShownValue(position);
    return text.empty() ? std::to_string(set.Catalogue().GetParameter(position).Value()) : text;
}

// What a buffer file held for the numbered parameters: the values taken, and the keys whose
// value is there but unusable (no 32-bit whole number), by catalogue position.
struct Loaded {
    Marks marks;
    std::map<std::int32_t, std::string> unusable;
};

// Loads what `path` holds for the numbered parameters and marks them; the others keep their
// values. Raises when the file cannot be read, is larger than is read of a file, or holds no
// value for any of them.
Loaded LoadFile(params::ParameterSet& set, const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) throw std::runtime_error("cannot read " + path + ": no such file");
    if (std::filesystem::is_directory(status)) throw std::runtime_error(path + " is a folder, not a buffer file");
    if (::access(path.c_str(), R_OK) != 0) throw std::runtime_error("cannot read " + path + ": permission denied");
    // The keys past the read limit would be taken for absent; a save refuses such a file too.
    if (const auto size = std::filesystem::file_size(path, ec); !ec && size > platform::kIniReadLimit)
        throw std::runtime_error(path + " is larger than a buffer file may be (" + std::to_string(platform::kIniReadLimit >> 20) +
                                 " MiB); nothing was written");
    const platform::IniFile ini(path);
    params::CTRKParameters& catalogue = set.Catalogue();
    Loaded loaded{Marks(static_cast<std::size_t>(catalogue.GetCount()), false), {}};
    for (std::int32_t i = params::kFirstNumberedPosition; i < catalogue.GetCount(); ++i) {
        params::CParameter& entry = catalogue.GetParameter(i);
        const auto text = ini.ReadString(kSection, std::to_string(entry.Number()));
        if (!text) continue;
        if (const auto value = platform::ParseInteger(*text)) {
            entry.SetValue(*value);
            loaded.marks[static_cast<std::size_t>(i)] = true;
        } else {
            loaded.unusable[i] = *text;
        }
    }
    if (std::count(loaded.marks.begin(), loaded.marks.end(), true) == 0 && loaded.unusable.empty())
        throw std::runtime_error(path + " holds no parameter values (no numbered keys in its [" + kSection +
                                 "] section); nothing was written");
    return loaded;
}

// Writes the section afresh: the entries read, and for a partial set the ones not read.
void SaveFile(const params::ParameterSet& set, const Marks& read, const std::string& path) {
    platform::IniFile ini(path);
    ini.EraseSection(kSection);
    ini.EraseSection(kNotReadSection);
    const auto& catalogue = set.Catalogue();
    for (std::int32_t i = params::kFirstNumberedPosition; i < catalogue.GetCount(); ++i) {
        const params::CParameter& entry = catalogue.GetParameter(i);
        const std::string key = std::to_string(entry.Number());
        if (read[static_cast<std::size_t>(i)])
            ini.WriteInteger(kSection, key, params::LowWord(entry.Value()));
        else
            ini.WriteString(kNotReadSection, key, "not read");
    }
    ini.UpdateFile();
}

// A watched driver over the session's line, for the parameter transfers.
struct Line {
    explicit Line(const SessionOptions& options)
        : number(options.line), session(options), watched(session.Link()), driver(0, &watched), transport(driver) {}
    // Why the transfers failed, when the link said: " (line: Connection refused)".
    std::string Cause(const LinkActivity& activity) {
        if (activity.failure == 0) return {};
        const std::string cause = session.Cause(activity.failure);
        session.TraceNote("line " + std::to_string(number) + ": params: link failure: " + cause);
        return " (line: " + cause + ")";
    }
    int number;
    Session session;
    WatchedLink watched;
    TVM30 driver;
    params::Tvm30Transport transport;
};

}  // namespace

ParamsCli::ParamsCli(CLI::App& app, SessionOptions& options) : options_(options) {
    params_ = app.add_subcommand("params", "read, write, save, load and compare controller parameters");
    AddNumberOption(*params_, "--address", address_, "nozzle address of the controller (1..64)")
        ->capture_default_str()
        ->check(CLI::Range(1, 64));
    readAll_ = params_->add_subcommand("read-all", "read every numbered parameter and print it");
    writeAll_ = params_->add_subcommand("write-all", "write the parameters FILE holds values for");
    writeAll_->add_option("file", file_, "buffer file")->required();
    save_ = params_->add_subcommand("save",
                                    "read every numbered parameter and save them to FILE; "
                                    "when a read fails FILE is left as it was");
    save_->add_option("file", file_, "buffer file")->required();
    save_->add_flag("--partial", partial_, "save what was read even when some reads failed, listing the others under [NotRead]");
    load_ = params_->add_subcommand("load",
                                    "load FILE and write the parameters it holds values for "
                                    "(same as write-all)");
    load_->add_option("file", file_, "buffer file")->required();
    diff_ = params_->add_subcommand("diff", "compare two buffer files side by side");
    diff_->add_option("a", left_, "first buffer file")->required();
    diff_->add_option("b", right_, "second buffer file")->required();
    params_->require_subcommand(1);
    params_->fallthrough();
    for (auto* sub : {readAll_, writeAll_, save_, load_, diff_}) sub->fallthrough();
}

bool ParamsCli::Chosen() const { return params_->parsed(); }

int ParamsCli::Run(std::ostream& out) {
    if (diff_->parsed()) return Compare(out);
    if (readAll_->parsed() || save_->parsed()) return Read(out);
    return Write(out);
}

int ParamsCli::Compare(std::ostream& out) {
    params::ParameterSet a, b;
    const Marks inA = LoadFile(a, left_).marks;
    const Marks inB = LoadFile(b, right_).marks;
    int differ = 0;
    for (std::int32_t i = params::kFirstNumberedPosition; i < a.Catalogue().GetCount(); ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (!inA[at] && !inB[at]) continue;
        const params::CParameter& e = a.Catalogue().GetParameter(i);
        if (inA[at] && inB[at] && e.Value() == b.Catalogue().GetParameter(i).Value()) continue;
        ++differ;
        out << e.Number() << "  " << (inA[at] ? Shown(a, i) : "(not in the file)") << "  |  "
            << (inB[at] ? Shown(b, i) : "(not in the file)") << "  " << e.Name() << '\n';
    }
    out << differ << " parameters differ\n";
    return differ == 0 ? 0 : kFailed;
}

int ParamsCli::Read(std::ostream& out) {
    Line line(options_);
    params::ParameterSet set;
    Marks read(static_cast<std::size_t>(set.Catalogue().GetCount()), false);
    line.watched.Begin();
    const auto summary = set.ReadAll(line.transport, {options_.line, address_}, [&](const params::EntryProgress& p) {
        read[static_cast<std::size_t>(p.position)] = p.ok;
        if (p.entry) Progress(out, "read", p.done, p.total, *p.entry, p.ok ? "ok" : "FAILED");
    });
    const std::string cause = line.Cause(line.watched.End(static_cast<std::uint8_t>(options_.line)));
    if (readAll_->parsed()) PrintSet(out, set);
    out << "read: " << summary.succeeded << " ok, " << summary.failed << " failed" << cause << '\n';
    if (save_->parsed()) {
        if (summary.succeeded == 0) {
            out << "not saved: nothing was read; " << file_ << " is left as it was\n";
            return kFailed;
        }
        if (summary.failed > 0 && !partial_) {
            out << "not saved: " << summary.failed << " parameters were not read; " << file_
                << " is left as it was (--partial saves the ones read)\n";
            return kFailed;
        }
        SaveFile(set, read, file_);
        out << "saved " << summary.succeeded << " values to " << file_;
        if (summary.failed > 0) out << "; " << summary.failed << " not read, listed under [" << kNotReadSection << "]";
        out << '\n';
    }
    return summary.failed == 0 ? 0 : kFailed;
}

int ParamsCli::Write(std::ostream& out) {
    // The file first: a file that holds nothing must not open the line at all.
    params::ParameterSet set;
    const Loaded file = LoadFile(set, file_);
    const Marks& loaded = file.marks;
    int inFile = 0;
    for (bool l : loaded) inFile += l ? 1 : 0;
    const int unusable = static_cast<int>(file.unusable.size());
    const std::int32_t count = set.Catalogue().GetCount();
    const int numbered = count - params::kFirstNumberedPosition;
    out << "loaded " << inFile << " of " << numbered << " values from " << file_;
    if (unusable > 0) out << "; " << unusable << " present but unusable";
    out << '\n';

    Line line(options_);
    const params::Target target{options_.line, address_};
    int written = 0, failed = 0, readOnly = 0, done = 0;
    const int total = inFile + unusable;
    line.watched.Begin();
    for (std::int32_t i = params::kFirstNumberedPosition; i < count; ++i) {
        params::CParameter& entry = set.Catalogue().GetParameter(i);
        if (const auto it = file.unusable.find(i); it != file.unusable.end()) {
            // There, but no value to send: a failure, never an absence.
            ++failed;
            Progress(out, "write", ++done, total, entry, "FAILED: \"" + it->second + "\" in the file is no 32-bit whole number");
            continue;
        }
        if (!loaded[static_cast<std::size_t>(i)]) continue;
        std::string outcome;
        switch (params::WriteEntry(entry, &line.transport, target)) {
            case params::WriteOutcome::Written:
                ++written;
                outcome = "ok";
                break;
            case params::WriteOutcome::Skipped:
                ++readOnly;
                outcome = "skipped (read-only)";
                break;
            default:
                ++failed;
                outcome = params::FitsDigitField(entry.Value(), entry.Digits())
                              ? "FAILED"
                              : "FAILED: " + std::to_string(entry.Value()) + " does not fit its " + std::to_string(entry.Digits()) +
                                    "-digit field";
        }
        Progress(out, "write", ++done, total, entry, outcome);
    }
    const std::string cause = line.Cause(line.watched.End(static_cast<std::uint8_t>(options_.line)));
    const int absent = numbered - inFile - unusable;
    out << "write: " << written << " written, " << failed << " failed, " << (absent + readOnly) << " skipped (" << absent
        << " not in the file, " << readOnly << " read-only)" << cause << '\n';
    return failed == 0 ? 0 : kFailed;
}

}  // namespace dorv::tools
