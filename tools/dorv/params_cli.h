// `dorv params ...`: the parameter service without a desktop. Reads and writes the numbered
// parameters of one controller (line and nozzle address), keeps sets in buffer files and
// compares two sets.
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
    int Run(std::ostream& out);

private:
    SessionOptions& options_;
    CLI::App* params_ = nullptr;
    CLI::App* readAll_ = nullptr;
    CLI::App* writeAll_ = nullptr;
    CLI::App* save_ = nullptr;
    CLI::App* load_ = nullptr;
    CLI::App* diff_ = nullptr;
    int address_ = 1;
    std::string file_;
    std::string left_;
    std::string right_;
};

}  // namespace dorv::tools
