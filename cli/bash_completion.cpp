#include "cli/bash_completion.h"

#include "cli/cli_args.h"
#include "jobs/model/record_fields.h"

namespace zbctl {
namespace {

// A word inside single quotes, for the script.
std::string Quoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Value lists longer than this (node IDs 0..99) are left to the person typing.
constexpr std::int64_t kMostValues = 32;

std::string FieldValueCases() {
    std::string cases;
    for (const zb::RecordField& field : zb::RecordFields()) {
        if (!field.writable || field.kind != zb::FieldKind::Number ||
            field.max - field.min >= kMostValues)
            continue;
        std::string values;
        for (std::int64_t v = field.min; v <= field.max; ++v)
            if (const auto text = zb::DisplayTextOf(field, v)) values += " " + Quoted(*text);
        if (!values.empty())
            cases += "        " + std::string(field.name) + ") printf '%s\\n'" + values + " ;;\n";
    }
    return cases;
}

}  // namespace

std::string BashCompletionScript() {
    std::string options;
    std::string value_options;
    for (const OptionWord& option : OptionWords()) {
        options += (options.empty() ? "" : " ") + option.name;
        if (option.takes_value) value_options += (value_options.empty() ? "" : "|") + option.name;
    }
    std::string commands;
    std::string file_commands;
    std::string folder_commands;
    for (const CommandWord& command : CommandWords()) {
        commands += (commands.empty() ? "" : " ") + command.name;
        std::string& list = command.path == PathKind::File ? file_commands : folder_commands;
        if (command.path != PathKind::None) list += (list.empty() ? "" : "|") + command.name;
    }
    std::string fields;
    for (const zb::RecordField& field : zb::RecordFields())
        if (field.writable) fields += (fields.empty() ? "" : " ") + std::string(field.name);

    return "# bash completion for zbctl                                    -*- shell-script -*-\n"
           "# Made by the build from zbctl's option, command and field tables.\n"
           "\n"
           "_zbctl_values()\n"
           "{\n"
           "    case $1 in\n" +
           FieldValueCases() +
           "    esac\n"
           "}\n"
           "\n"
           "_zbctl()\n"
           "{\n"
           "    local cur prev words cword\n"
           "    _init_completion -n = || return\n"
           "\n"
           "    case $prev in\n"
           "        --ports-dir) _filedir -d; return ;;\n"
           "        --report|--upgrade|--import) _filedir; return ;;\n"
           "        --set)\n"
           "            if [[ $cur == *=* ]]; then\n"
           "                local field=${cur%%=*} value=${cur#*=} v prefix=\n"
           "                # Where = breaks words, only the part after it is replaced.\n"
           "                [[ $COMP_WORDBREAKS == *=* ]] || prefix=$field=\n"
           "                while IFS= read -r v; do\n"
           "                    [[ ${v,,} == \"${value,,}\"* ]] && COMPREPLY+=(\"$prefix$(printf "
           "'%q' \"$v\")\")\n"
           "                done < <(_zbctl_values \"$field\")\n"
           "            else\n"
           "                COMPREPLY=($(compgen -S = -W '" +
           fields +
           "' -- \"$cur\"))\n"
           "                compopt -o nospace\n"
           "            fi\n"
           "            return ;;\n"
           "        " +
           value_options +
           ") return ;;\n"
           "    esac\n"
           "\n"
           "    local i w command= operands=0 ended= ports_dir=\n"
           "    for ((i = 1; i < cword; i++)); do\n"
           "        w=${words[i]}\n"
           "        if [[ -z $ended && $w == -- ]]; then ended=1; continue; fi\n"
           "        if [[ -z $ended && $w == -* ]]; then\n"
           "            case $w in\n"
           "                --ports-dir) ports_dir=${words[i+1]} ;;\n"
           "                --ports-dir=*) ports_dir=${w#*=} ;;\n"
           "            esac\n"
           "            case $w in " +
           value_options +
           ") ((i++)) ;; esac\n"
           "            continue\n"
           "        fi\n"
           "        if [[ -z $command ]]; then command=$w; else ((operands++)); fi\n"
           "    done\n"
           "\n"
           "    if [[ -z $ended && $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W '" +
           options +
           "' -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    case $command in\n"
           "        '') COMPREPLY=($(compgen -W '" +
           commands +
           "' -- \"$cur\")); return ;;\n"
           "        help) ((operands == 0)) && COMPREPLY=($(compgen -W '" +
           commands +
           "' -- \"$cur\")); return ;;\n"
           "        ports|watch) return ;;\n"
           "        image-info) ((operands == 0)) && _filedir; return ;;\n"
           "        " +
           file_commands +
           ") ((operands == 0)) && { _filedir; return; } ;;\n"
           "        " +
           folder_commands +
           ") ((operands == 0)) && { _filedir -d; return; } ;;\n"
           "    esac\n"
           "    local ports\n"
           "    ports=$(\"${words[0]}\" ${ports_dir:+--ports-dir \"$ports_dir\"} ports 2>/dev/null "
           "| cut -d' ' -f1)\n"
           "    COMPREPLY=($(compgen -W \"$ports\" -- \"$cur\"))\n"
           "} &&\n"
           "    complete -F _zbctl zbctl\n";
}

}  // namespace zbctl
