#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qelt::tools {

// Walks the arguments of a tool's command line. An option's value is either glued on with "=" ("--out=ROOT") or
// the next argument; once EndOptions has been called ("--"), every argument is taken as it stands. Mistakes are
// thrown as the tool's own usage error, `Error`, made from one sentence.
template <class Error>
class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    // Moves to the next argument; false when there is none.
    bool Next() {
        if (index_ >= arguments_.size()) return false;
        const std::string& argument = arguments_[index_++];
        inlineValue_.reset();
        name_ = argument;
        if (argument.starts_with("--") && !optionsEnded_) {
            if (const auto equals = argument.find('='); equals != std::string::npos) {
                name_ = argument.substr(0, equals);
                inlineValue_ = argument.substr(equals + 1);
            }
        }
        return true;
    }

    // The argument, or the option's name without a value glued on.
    const std::string& Name() const { return name_; }
    bool IsOption() const { return !optionsEnded_ && name_.size() > 1 && name_.front() == '-'; }
    void EndOptions() { optionsEnded_ = true; }

    // The option's value, taking the next argument when none was glued on.
    std::string Value() {
        if (inlineValue_) return *inlineValue_;
        if (index_ >= arguments_.size()) throw Error("The option " + name_ + " needs a value.");
        return arguments_[index_++];
    }

    // For an option that is a flag.
    void NoValue() const {
        if (inlineValue_) throw Error("The option " + name_ + " takes no value.");
    }

    // The option's value into `slot`, which must not hold one from an earlier mention of the option.
    void ValueOnce(std::optional<std::string>& slot) {
        std::string value = Value();
        if (slot) throw Error("The option " + name_ + " is given twice.");
        slot = std::move(value);
    }

private:
    const std::vector<std::string>& arguments_;
    std::size_t index_ = 0;
    std::string name_;
    std::optional<std::string> inlineValue_;
    bool optionsEnded_ = false;
};

}  // namespace qelt::tools
