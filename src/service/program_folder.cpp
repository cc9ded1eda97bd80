#include "service/program_folder.h"

namespace corvane {

uint32_t ProgramFolder(ISystem& system, std::u16string& folder) {
    std::u16string program;
    if (uint32_t err = system.GetModuleFileName(program)) return err;
    const size_t slash = program.find_last_of(u"/\\");
    if (slash == std::u16string::npos) return 161;  // ERROR_BAD_PATHNAME
    folder = program.substr(0, slash + 1);
    return 0;
}

uint32_t EnterProgramFolder(ISystem& system) {
    std::u16string folder;
    if (uint32_t err = ProgramFolder(system, folder)) return err;
    return system.SetCurrentDirectory(folder);
}

}  // namespace corvane
