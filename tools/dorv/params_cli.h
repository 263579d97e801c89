// `dorv params ...`: the parameter service without a desktop. Reads and writes the numbered
// parameters of one controller (line and nozzle address), keeps sets in buffer files and
// compares two sets. It never writes to a controller a value its file did not hold, and never
// replaces a file with values it did not read.
#pragma once

#include <iosfwd>
#include <string>

#include "session.h"

namespace CLI {
class App;
}

namespace dorv::tools {

class ParamsCli {
public:
    ParamsCli(CLI::App& app, SessionOptions& options);
    bool Chosen() const;
    // 0 done, 1 a transfer failed, a save was refused or two sets differ; raises
    // std::runtime_error when a file cannot be read or holds no values (nothing was sent).
    int Run(std::ostream& out);

private:
    int Write(std::ostream& out);
    int Read(std::ostream& out);
    int Compare(std::ostream& out);

    SessionOptions& options_;
    CLI::App* params_ = nullptr;
    CLI::App* readAll_ = nullptr;
    CLI::App* writeAll_ = nullptr;
    CLI::App* save_ = nullptr;
    CLI::App* load_ = nullptr;
    CLI::App* diff_ = nullptr;
    int address_ = 1;
    bool partial_ = false;
    std::string file_;
    std::string left_;
    std::string right_;
};

}  // namespace dorv::tools
