#include "program.h"

#include <link.h>

#include <cstring>
#include <vector>

namespace kvprogram {

const char* const kVersion = KVPO_VERSION;

namespace {

// The version note of our shared objects (cmake/version_note.c.in): name
// "KVPRTOBJ", type 0x4b56, four 16-bit parts.
constexpr uint32_t kNoteType = 0x4b56;
constexpr char kNoteName[] = "KVPRTOBJ";
constexpr size_t kNoteParts = 4;

struct Library {
    std::string path;
    uint16_t parts[kNoteParts];
};

size_t align4(size_t n) { return (n + 3) & ~size_t{3}; }

// Looks for our note in one note segment of a loaded image.
bool findNote(const unsigned char* segment, size_t size, uint16_t* parts) {
    size_t pos = 0;
    while (size - pos >= sizeof(ElfW(Nhdr))) {
        ElfW(Nhdr) header;
        std::memcpy(&header, segment + pos, sizeof header);
        const size_t name = pos + sizeof header, desc = name + align4(header.n_namesz);
        const size_t next = desc + align4(header.n_descsz);
        if (next > size || next <= pos) return false;
        if (header.n_type == kNoteType && header.n_namesz == sizeof kNoteName &&
            header.n_descsz == sizeof(uint16_t) * kNoteParts &&
            std::memcmp(segment + name, kNoteName, sizeof kNoteName) == 0) {
            std::memcpy(parts, segment + desc, sizeof(uint16_t) * kNoteParts);
            return true;
        }
        pos = next;
    }
    return false;
}

int collect(dl_phdr_info* info, size_t, void* data) {
    if (info->dlpi_name == nullptr || *info->dlpi_name == '\0') return 0;   // the executable
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_NOTE) continue;
        Library library{info->dlpi_name, {}};
        if (findNote(reinterpret_cast<const unsigned char*>(info->dlpi_addr + segment.p_vaddr), segment.p_memsz,
                     library.parts)) {
            static_cast<std::vector<Library>*>(data)->push_back(library);
            break;
        }
    }
    return 0;
}

}  // namespace

std::string versionText(const std::string& program) {
    std::string text = program + " " + kVersion;
    std::vector<Library> libraries;
    dl_iterate_phdr(collect, &libraries);
    for (const Library& library : libraries) {
        std::string name = library.path.substr(library.path.rfind('/') + 1);
        name = name.substr(0, name.find(".so"));
        text += "\n" + name + " ";
        for (size_t k = 0; k < kNoteParts; ++k) {
            if (k > 0) text += '.';
            text += std::to_string(library.parts[k]);
        }
        text += " from " + library.path;
    }
    return text;
}

namespace {

// "kvprt qs": the command the command line got to.
std::string commandPath(const CLI::App* cmd) {
    std::string path = cmd->get_name();
    for (const CLI::App* up = cmd->get_parent(); up != nullptr; up = up->get_parent()) path = up->get_name() + " " + path;
    return path;
}

std::string usageMessage(const CLI::App& app, const CLI::ParseError& error) {
    const CLI::App* cmd = &app;
    while (!cmd->get_subcommands().empty()) cmd = cmd->get_subcommands().front();
    const std::string path = commandPath(cmd), help = " (" + path + " --help lists them)";
    const bool hasCommands = !cmd->get_subcommands({}).empty();
    std::vector<std::string> rest = app.remaining(true);
    if (!rest.empty()) {
        const std::string& word = rest.front();
        if (word.rfind("-", 0) == 0 && word.size() > 1) return "'" + word + "' is not an option of " + path + help;
        if (hasCommands) return "'" + word + "' is not a command of " + path + help;
        return "'" + word + "' is one argument too many for " + path;
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error) && hasCommands && cmd->get_require_subcommand_min() > 0)
        return path + " needs a command" + help;
    return error.what();
}

}  // namespace

std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv,
                                    const std::function<void(const std::string&)>& report) {
    try {
        app.parse(argc, argv);
        return std::nullopt;
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        report(usageMessage(app, e));
        return kExitUsage;
    }
}

std::string hostPortText(const std::string& host, unsigned port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace kvprogram
