#include "params_cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <ostream>

#include "driver/tvm30.h"
#include "params/parameter_set.h"

namespace dorv::tools {
namespace {

// A progress bar on a terminal, one line per entry otherwise.
params::ProgressCallback Progress(std::ostream& out, const char* verb) {
    const bool tty = ::isatty(2) != 0;
    return [&out, verb, tty](const params::EntryProgress& p) {
        const char* outcome = p.skipped ? "skipped" : p.ok ? "ok" : "FAILED";
        if (tty) {
            const int width = 30;
            const int filled = p.total ? p.done * width / p.total : width;
            std::fprintf(stderr, "\r%s [%.*s%*s] %2d/%d  %-60.60s", verb, filled,
                         "##############################", width - filled, "", p.done, p.total,
                         p.entry ? p.entry->Name().c_str() : "");
            if (p.done == p.total) std::fputc('\n', stderr);
        } else if (p.entry) {
            out << verb << ' ' << p.done << '/' << p.total << "  " << p.entry->Number() << ' '
                << outcome << '\n';
        }
    };
}

void PrintSet(std::ostream& out, const params::ParameterSet& set) {
    const auto& catalogue = set.Catalogue();
    for (std::int32_t i = 7; i < catalogue.GetCount(); ++i) {
        const params::CParameter& e = catalogue.GetParameter(i);
        char number[8];
        std::snprintf(number, sizeof number, "%3d", e.Number());
        out << number << "  " << (e.ReadError() ? std::string("Ошибка чтения!") : e.ReadText()) << "\t"
            << e.Name() << '\n';
    }
}

int Summarise(std::ostream& out, const char* what, const params::RunSummary& s) {
    out << what << ": " << s.succeeded << " ok, " << s.failed << " failed, " << s.skipped << " skipped\n";
    return s.failed == 0 ? 0 : 1;
}

}  // namespace

ParamsCli::ParamsCli(CLI::App& app, SessionOptions& options) : options_(options) {
    params_ = app.add_subcommand("params", "read, write, save, load and compare controller parameters");
    params_->add_option("--address", address_, "nozzle address of the controller (1..64)")->capture_default_str();
    readAll_ = params_->add_subcommand("read-all", "read every numbered parameter and print it");
    writeAll_ = params_->add_subcommand("write-all", "write every numbered parameter of FILE");
    writeAll_->add_option("file", file_, "buffer file")->required();
    save_ = params_->add_subcommand("save", "read every numbered parameter and save them to FILE");
    save_->add_option("file", file_, "buffer file")->required();
    load_ = params_->add_subcommand("load", "load FILE and write it to the controller (same as write-all)");
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
    if (diff_->parsed()) {
        params::ParameterSet a, b;
        a.Load(left_);
        b.Load(right_);
        const auto differences = params::Diff(a, b);
        for (const auto& d : differences)
            out << d.number << "  " << d.leftText << "  |  " << d.rightText << "  " << d.name << '\n';
        out << differences.size() << " parameters differ\n";
        return differences.empty() ? 0 : 1;
    }
    Session session(options_);
    TVM30 driver(0, &session.Link());
    params::Tvm30Transport transport(driver);
    params::ParameterSet set;
    const params::Target target{options_.line, address_};
    if (readAll_->parsed() || save_->parsed()) {
        const auto summary = set.ReadAll(transport, target, Progress(out, "read"));
        if (readAll_->parsed()) PrintSet(out, set);
        if (save_->parsed()) {
            set.Save(file_);
            out << "saved to " << file_ << '\n';
        }
        return Summarise(out, "read", summary);
    }
    const int loaded = set.Load(file_);
    out << "loaded " << loaded << " values from " << file_ << '\n';
    return Summarise(out, "write", set.WriteAll(transport, target, Progress(out, "write")));
}

}  // namespace dorv::tools
