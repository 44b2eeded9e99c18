// The exit statuses of every korvel command, one scheme for all (docs/commands.md lists them).
#ifndef KORVEL_TOOLS_KORVEL_EXIT_STATUS_H_
#define KORVEL_TOOLS_KORVEL_EXIT_STATUS_H_

namespace korvel {

// Done.
inline constexpr int kExitSuccess = 0;
// The result differs from what was expected (check), or a cell refused an entry (--set).
inline constexpr int kExitDiffers = 1;
// The input was refused or the operation failed: a file that does not read or is of another
// kind, a failed write, an import or save that did not happen, out of memory.
inline constexpr int kExitFailed = 2;
// The command line does not read: an unknown command or option, a value of the wrong form, a
// cell or sheet that names none.
inline constexpr int kExitUsage = 64;

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_EXIT_STATUS_H_
