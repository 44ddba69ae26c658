#include "args.h"

namespace sonvale_cli {

std::vector<std::string> program_args(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

} // namespace sonvale_cli
