#include "knowledge/assessment.h"

#include <algorithm>
#include <optional>

#include "util/hex.h"
#include "util/text.h"

namespace qm::knowledge {

namespace {

bool is_exact_pattern(std::string_view pattern) {
    return !pattern.empty() && pattern.front() != '*' && pattern.back() != '*';
}

const KnowledgeHint* find_hint(const std::vector<KnowledgeHint>& hints, const std::vector<std::string>& names) {
    for (const KnowledgeHint& hint : hints) {
        for (const std::string& name : names) {
            if (!hint.word.empty() && name.find(hint.word) != std::string::npos) return &hint;
        }
    }
    return nullptr;
}

}  // namespace

bool pattern_matches(std::string_view pattern, std::string_view name) {
    if (name.empty() || pattern.empty()) return false;
    const bool leading = pattern.front() == '*';
    const bool trailing = pattern.back() == '*' && pattern.size() > 1;
    std::size_t begin = pattern.find_first_not_of('*');
    if (begin == std::string_view::npos) return false;  // stars only: nothing to match
    std::size_t end = pattern.find_last_not_of('*');
    std::string_view core = pattern.substr(begin, end - begin + 1);
    if (leading && trailing) return name.find(core) != std::string_view::npos;
    if (leading) return name.ends_with(core);
    if (trailing) return name.starts_with(core);
    return name == core;
}

std::vector<std::string> candidate_names(const model::StartupItem& item) {
    std::vector<std::string> names;
    auto add = [&names](std::string name) {
        if (!name.empty()) names.push_back(std::move(name));
    };
    add(to_lower_ascii(item.spec_value("short")));
    add(to_lower_ascii(item.name));
    if (model::is_service_kind(item.kind)) {
        add(to_lower_ascii(file_stem(item.exe)));
    }
    // Per-user services carry "_{hex}" after their name; try the name alone too.
    const std::size_t plain = names.size();
    for (std::size_t i = 0; i < plain; ++i) {
        std::size_t underscore = names[i].rfind('_');
        if (underscore == std::string::npos) continue;
        std::string_view suffix = std::string_view(names[i]).substr(underscore + 1);
        if (suffix.size() >= 4 && suffix.size() <= 8 && std::all_of(suffix.begin(), suffix.end(), is_hex_digit)) {
            add(names[i].substr(0, underscore));
        }
    }
    return names;
}

RuleIndex::RuleIndex(const std::vector<KnowledgeRule>& rules) : rules_(rules) {
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const std::string& pattern = rules[i].pattern;
        if (is_exact_pattern(pattern)) {
            first_exact_.emplace(pattern, i);  // keeps the first of equal patterns
            continue;
        }
        std::size_t begin = pattern.find_first_not_of('*');
        if (begin == std::string::npos) continue;  // stars only: matches nothing
        std::size_t end = pattern.find_last_not_of('*');
        const bool leading = pattern.front() == '*';
        const bool trailing = pattern.back() == '*' && pattern.size() > 1;
        Widening how = leading && trailing ? Widening::contains : leading ? Widening::ends_with : Widening::begins_with;
        widening_.push_back(WideningRule{i, how, pattern.substr(begin, end - begin + 1)});
    }
}

const KnowledgeRule* RuleIndex::find(const std::vector<std::string>& names) const {
    std::size_t best = rules_.size();
    for (const std::string& name : names) {
        if (auto it = first_exact_.find(name); it != first_exact_.end()) best = std::min(best, it->second);
    }
    for (const WideningRule& rule : widening_) {
        if (rule.index >= best) break;
        for (const std::string& name : names) {
            bool hit = false;
            switch (rule.how) {
                case Widening::contains:
                    hit = name.find(rule.core) != std::string::npos;
                    break;
                case Widening::ends_with:
                    hit = name.ends_with(rule.core);
                    break;
                case Widening::begins_with:
                    hit = name.starts_with(rule.core);
                    break;
            }
            if (hit) return &rules_[rule.index];
        }
    }
    return best < rules_.size() ? &rules_[best] : nullptr;
}

Assessor::Assessor(const KnowledgePack& builtin, const KnowledgePack& installed, std::string installed_source,
                   std::string_view platform)
    : builtin_(builtin),
      installed_(installed),
      installed_source_(std::move(installed_source)),
      builtin_rules_(builtin.rules_for(platform)),
      installed_rules_(installed.rules_for(platform)) {}

namespace {

// A judgement with its first reason.
model::Assessment judged(model::Level level, std::string effect, model::Confidence confidence, std::string reason) {
    return model::Assessment{std::move(effect), {std::move(reason)}, confidence, level};
}

// Whom a switch of the item reaches. An item of every user that the platform
// switches for the running account alone (spec "switched_for" = "account",
// a system autostart file overridden in the user's folder) says so.
std::string scope_sentence(const model::StartupItem& item) {
    if (item.spec_value("switched_for") == "account")
        return "The file is every user's, but switching it changes it for this account only.";
    return item.scope == model::Scope::machine ? "It applies to every user of this computer."
                                               : "It applies to this account only.";
}

// What the computer's records say the item costs at start, when measured:
// what switching it off would gain, beside what it would risk.
void add_impact_reason(const model::StartupItem& item, model::Assessment& a) {
    const std::string reason = model::impact_reason(item.impact);
    if (!reason.empty()) a.reasons.push_back(reason + ".");
}

// Whether a check of the program file speaks against what its name claims:
// a file changed since signing or packaging, a signer the chain does not
// vouch for, no signature at all, or a signer other than the publisher.
bool signature_doubts_name(const model::StartupItem& item) {
    if (!item.signature) return false;
    const model::Signature& signature = *item.signature;
    switch (signature.verdict) {
        case model::SignatureVerdict::verified:
        case model::SignatureVerdict::catalog:
            return model::signer_agrees(signature.signer, item.publisher) == false;
        case model::SignatureVerdict::signed_untrusted:
        case model::SignatureVerdict::tampered:
        case model::SignatureVerdict::unsigned_file:
        case model::SignatureVerdict::modified:
            return true;
        case model::SignatureVerdict::unpackaged:
        case model::SignatureVerdict::not_checked:
            return false;
    }
    return false;
}

// Folders any program the user runs may write to, where a file that nobody
// signed may have been put by anything.
bool in_folder_anyone_writes(std::string_view exe) {
    std::string path = to_lower_ascii(exe);
    std::replace(path.begin(), path.end(), '/', '\\');
    for (std::string_view part : {"\\appdata\\", "\\temp\\", "\\tmp\\", "\\downloads\\"}) {
        if (path.find(part) != std::string::npos) return true;
    }
    return false;
}

// What the check of the program file adds: a file changed since it was
// signed or packaged asks for a look before anything is done to it.
void add_signature_reasons(const model::StartupItem& item, model::Assessment& a) {
    if (!item.signature) return;
    const model::Signature& signature = *item.signature;
    if (model::changed_after_signing(signature.verdict)) {
        if (a.level == model::Level::safe || a.level == model::Level::low) {
            a.level = model::Level::caution;
            a.effect += " Its program file is not the one that was signed or installed, so look at it before "
                        "deciding anything.";
        }
        a.reasons.push_back(signature.verdict == model::SignatureVerdict::tampered
                                ? "The program file was changed after it was signed."
                                : "The program file was changed after it was signed: it differs from the copy its "
                                  "package installed.");
        return;
    }
    const bool nobody_vouches = signature.verdict == model::SignatureVerdict::unsigned_file ||
                                signature.verdict == model::SignatureVerdict::unpackaged;
    if (nobody_vouches && in_folder_anyone_writes(item.exe)) {
        a.reasons.push_back(
            "Warning: the program is neither signed nor packaged and lies in a folder any program you run can write "
            "to, so anything may have put it there.");
    }
    if (model::signer_agrees(signature.signer, item.publisher) == false) {
        a.reasons.push_back("The version information names " + item.publisher +
                            " as its publisher, but the file is signed by " + signature.signer + ".");
    }
}

}  // namespace

model::Assessment Assessor::assess(const model::StartupItem& item) const {
    model::Assessment a;
    if (item.managed) {
        a = judged(model::Level::safe,
                   "Made by Quillmoor. Switching it off only stops that program starting; nothing else depends on it, "
                   "and you can switch it back on or remove it at any time.",
                   model::Confidence::high,
                   "The entry carries Quillmoor's own name tag, so Quillmoor knows exactly what it is.");
        add_impact_reason(item, a);
        if (item.scope == model::Scope::machine) a.reasons.push_back(scope_sentence(item));
        return a;
    }

    const std::vector<std::string> names = candidate_names(item);
    const KnowledgeRule* from_builtin = builtin_rules_.find(names);
    const KnowledgeRule* from_installed = installed_rules_.find(names);
    const KnowledgeRule* chosen = nullptr;
    bool builtin_chosen = false;
    bool lowering_refused = false;
    if (from_builtin && (!from_installed || from_installed->level < from_builtin->level)) {
        chosen = from_builtin;
        builtin_chosen = true;
        lowering_refused = from_installed != nullptr;
    } else if (from_installed) {
        chosen = from_installed;
    }

    if (item.unreadable) {
        a = judged(model::Level::unknown,
                   "What it starts could not be read, so what switching it off does cannot be stated. Look at the "
                   "file itself before deciding.",
                   model::Confidence::low, "Its entry could not be read; its name alone proves nothing.");
    } else if (chosen) {
        // A pattern that may match anywhere in a name is a guess by a word.
        const bool by_word =
            chosen->pattern.size() > 2 && chosen->pattern.front() == '*' && chosen->pattern.back() == '*';
        a = judged(chosen->level, chosen->effect,
                   builtin_chosen && !by_word ? model::Confidence::high : model::Confidence::medium,
                   by_word ? "Judged by the word \"" + chosen->pattern.substr(1, chosen->pattern.size() - 2) +
                                 "\" in its name, from the " +
                                 (builtin_chosen ? std::string("built-in knowledge.")
                                                 : "knowledge in " + installed_source_ + ".")
                   : builtin_chosen ? std::string("Recognised from the built-in knowledge of well-known startup items.")
                                    : "Recognised from the knowledge in " + installed_source_ + ".");
        // A well-known name is that program for sure only when the file's
        // signature or package vouches for it; a check that says otherwise
        // leaves the name a likely guess. No check at all changes nothing.
        if (a.confidence == model::Confidence::high && signature_doubts_name(item)) {
            a.confidence = model::Confidence::medium;
            a.reasons.push_back("Its signature does not confirm the name, so the match is likely but not certain.");
        }
        if (lowering_refused) {
            a.reasons.push_back("A knowledge update tried to lower this warning; the built-in level was kept.");
        }
        // A name anyone can give an entry: it is that system part only when
        // its program is where the system keeps its own.
        if (chosen->system && item.origin != model::Origin::operating_system && !item.exe.empty()) {
            a.confidence = model::Confidence::low;
            a.reasons.push_back("The name is that of a part of the operating system, but its program is " + item.exe +
                                ", outside the folders where the system keeps its own programs. That is unusual: "
                                "another program may be using the name.");
        }
    } else {
        const KnowledgeHint* installed_hint = find_hint(installed_.hints, names);
        const KnowledgeHint* builtin_hint = find_hint(builtin_.hints, names);
        const KnowledgeHint* hint = installed_hint;
        if (!hint || (builtin_hint && builtin_hint->level > installed_hint->level)) hint = builtin_hint;
        if (hint) {
            a = judged(hint->level, hint->effect, model::Confidence::medium,
                       "Judged by the word \"" + hint->word + "\" in its name; it is not in the built-in list.");
        } else if (item.spec_value("written_here") == "1") {
            // A unit an administrator wrote on this computer: what it runs is all there is to judge by.
            a = judged(model::Level::caution,
                       "Written on this computer rather than installed with a package; it runs " +
                           (item.command.empty() ? std::string("a program of its own") : item.command) +
                           ". Only whoever set it up knows what relies on it, so check before switching it off.",
                       model::Confidence::low,
                       "A unit file of this computer's own, owned by no package, and not in the built-in list.");
        } else if (item.origin != model::Origin::operating_system && item.kind == model::ItemKind::task) {
            a = judged(model::Level::low,
                       "A scheduled task installed by a program. The computer does not need it, but the program it "
                       "belongs to may lose a background feature, such as its updates, until the task runs again.",
                       model::Confidence::medium,
                       "An installed program's scheduled task, not part of the operating system, and nothing found "
                       "depends on it.");
        } else if (item.origin != model::Origin::operating_system && item.scope != model::Scope::user &&
                   !model::starts_at_sign_in(item.kind)) {
            a = judged(
                model::Level::low,
                "A background service installed by a program. The computer does not need it, but the program "
                "it belongs to may lose a background feature until the service is started by hand.",
                model::Confidence::medium,
                "An installed program's service, not part of the operating system, and nothing found depends on it.");
        } else if (item.origin != model::Origin::operating_system) {
            a = judged(model::Level::safe,
                       "It will simply not open itself when you sign in. You can still open it by hand; anything it "
                       "does in the background (updates, sync, notifications) pauses until you do.",
                       model::Confidence::medium,
                       "An installed program started from your own sign-in. The operating system does not depend on "
                       "programs started this way.");
        } else {
            a = judged(model::Level::unknown,
                       "Part of the operating system and not in the built-in list. What switching it off does cannot "
                       "be stated; leave it alone unless you know what it is for.",
                       model::Confidence::low,
                       "It belongs to the operating system, but nothing the program can read says what it is for.");
        }
    }

    // What the platform found wrong with the entry comes right after the
    // reason for the judgement.
    a.reasons.insert(a.reasons.begin() + (a.reasons.empty() ? 0 : 1), item.warnings.begin(), item.warnings.end());

    // Anyone can add an ordinary start-up entry, so a critical name there proves nothing.
    if (a.level == model::Level::critical && model::anyone_can_add(item.kind)) {
        a.level = model::Level::high;
        a.effect +=
            " It is shown as High rather than Critical because this is an ordinary start-up entry that anyone "
            "can add, so its name does not prove it is that system component.";
    }

    if (item.dependents.empty()) {
        if (!model::starts_at_sign_in(item.kind)) {
            a.reasons.push_back("Dependency check: no enabled item requires it.");
        }
    } else {
        const std::size_t count = item.dependents.size();
        std::string list;
        for (std::size_t i = 0; i < count && i < 6; ++i) {
            if (i > 0) list += ", ";
            list += item.dependents[i];
        }
        if (count > 6) list += " and " + std::to_string(count - 6) + " more";
        const std::string needed =
            std::to_string(count) + " other item(s) that start with the computer need it: " + list + ".";
        if (a.level == model::Level::safe || a.level == model::Level::low || a.level == model::Level::caution) {
            a.level = model::Level::high;
            a.effect += " " + needed;
        } else if (a.level == model::Level::unknown) {
            a.level = model::Level::high;
            a.effect = needed;
        }
        a.reasons.push_back("Dependency check: " + std::to_string(count) + " enabled item(s) require it: " + list +
                            ".");
        if (a.confidence == model::Confidence::low) a.confidence = model::Confidence::medium;
    }

    if (!item.package.empty()) {
        a.reasons.push_back("Owned by the package \"" + item.package + "\".");
        const std::string& priority = item.spec_value("pkg_priority");
        const bool weak = a.confidence != model::Confidence::high;
        if ((priority == "essential" || priority == "required") && weak &&
            (a.level == model::Level::safe || a.level == model::Level::low || a.level == model::Level::caution ||
             a.level == model::Level::unknown)) {
            a.level = model::Level::high;
            a.effect =
                "Its package is marked by the distribution as required for the system to work. What it does is not in "
                "the built-in list.";
            a.confidence = model::Confidence::medium;
        } else if (priority == "important" && weak &&
                   (a.level == model::Level::safe || a.level == model::Level::low ||
                    a.level == model::Level::unknown)) {
            a.level = model::Level::caution;
            a.effect =
                "Its package is marked by the distribution as important. What it does is not in the built-in list.";
            a.confidence = model::Confidence::medium;
        }
        if (!priority.empty()) a.reasons.push_back("The package priority is \"" + priority + "\".");
    }
    if (!item.publisher.empty()) a.reasons.push_back("Published by " + item.publisher + ".");
    add_signature_reasons(item, a);
    if (item.running)
        a.reasons.push_back("It is running now; switching it off changes the next start, not the current session.");
    add_impact_reason(item, a);
    a.reasons.push_back(scope_sentence(item));
    return a;
}

}  // namespace qm::knowledge
