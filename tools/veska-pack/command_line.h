// The commands of veska-pack, for main() and for tests.
#ifndef VESKA_TOOLS_VESKA_PACK_COMMAND_LINE_H_
#define VESKA_TOOLS_VESKA_PACK_COMMAND_LINE_H_

#include <ostream>
#include <string>
#include <vector>

namespace veska::pack {

inline constexpr int kExitPlays = 0;
inline constexpr int kExitSilent = 1;  // check: an element would be silent;
                                       // preview: nothing could be rendered
inline constexpr int kExitUsage = 2;

// `args` without the program name.
int RunVeskaPack(const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err);

}  // namespace veska::pack

#endif  // VESKA_TOOLS_VESKA_PACK_COMMAND_LINE_H_
