// completion: the bash completion of vardex-cli, written from the verbs' declarations, so that a
// verb added to a table completes with its options, and its options' values by their kinds,
// without further work.
#include "cli/commands.h"

#include <algorithm>

namespace vardex::cli {

namespace {

QString completionScript() {
    QList<const Verb*> verbs = allVerbs();
    // The longest names first: "log clear" is matched before "log".
    std::stable_sort(verbs.begin(), verbs.end(), [](const Verb* a, const Verb* b) {
        return a->name.count(QLatin1Char(' ')) > b->name.count(QLatin1Char(' '));
    });
    QString options, next;
    QMap<QString, QStringList> following; // the words typed so far -> the words that may come next
    for (const Verb* v : verbs) {
        // The options that take a value: a file's is completed with file names, any other's
        // with nothing (it is typed).
        QStringList files, valued;
        for (const OptionDecl& o : declaredOptions(*v))
            if (!o.hidden && o.kind != Kind::Flag)
                for (const QString& n : o.names)
                    (o.kind == Kind::File ? files : valued)
                        << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
        options += QStringLiteral("    \"%1\" | \"%1 \"*) opts=\"%2\" files=\"%3\" valued=\"%4\" ;;\n")
                       .arg(v->name, optionNames(*v).join(QLatin1Char(' ')), files.join(QLatin1Char(' ')),
                            valued.join(QLatin1Char(' ')));
        const QStringList words = v->name.split(QLatin1Char(' '));
        for (int i = 0; i < words.size(); ++i) {
            QStringList& after = following[words.mid(0, i).join(QLatin1Char(' '))];
            if (!after.contains(words[i]))
                after << words[i];
        }
    }
    following[QString()] << QStringLiteral("help");
    for (auto it = following.begin(); it != following.end(); ++it)
        next +=
            QStringLiteral("    \"%1\") words=\"%2\" ;;\n").arg(it.key(), it.value().join(QLatin1Char(' ')));
    return QStringLiteral(
               "# bash completion for vardex-cli, written by `vardex-cli completion bash` from its verb "
               "tables.\n"
               "_vardex_cli() {\n"
               "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\" typed=\"\" "
               "opts=\"\" files=\"\" valued=\"\" words=\"\" i\n"
               "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
               "        [[ ${COMP_WORDS[i]} == -* ]] && break\n"
               "        typed=\"${typed:+$typed }${COMP_WORDS[i]}\"\n"
               "    done\n"
               "    [[ ${typed%% *} == help ]] && typed=\"${typed#help}\" && typed=\"${typed# }\"\n"
               "    case \"$typed\" in\n") +
           next +
           QStringLiteral("    esac\n"
                          "    case \"$typed\" in\n") +
           options +
           QStringLiteral("    esac\n"
                          "    if [[ \" $files \" == *\" $prev \"* ]]; then\n"
                          "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
                          "    elif [[ \" $valued \" == *\" $prev \"* ]]; then\n"
                          "        COMPREPLY=()\n"
                          "    elif [[ $cur == -* && -n $opts ]]; then\n"
                          "        COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
                          "    elif [[ -n $words ]]; then\n"
                          "        COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
                          "    else\n"
                          "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
                          "    fi\n"
                          "}\n"
                          "complete -F _vardex_cli vardex-cli\n");
}

int completion(const Invocation&) {
    const QByteArray b = completionScript().toUtf8();
    std::fwrite(b.constData(), 1, b.size(), stdout);
    return kOk;
}

} // namespace

CommandGroup completionCommands() {
    return {QStringLiteral("completion bash"),
            false,
            {
                {QStringLiteral("completion bash"),
                 {},
                 QStringLiteral("Writes the bash completion of vardex-cli (source it, or install it as "
                                "/usr/share/bash-completion/completions/vardex-cli)."),
                 Takes::Own,
                 nullptr,
                 completion},
            }};
}

} // namespace vardex::cli
