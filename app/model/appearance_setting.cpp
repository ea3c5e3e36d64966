#include "app/model/appearance_setting.h"

namespace Appearance {

std::string_view id(AppearanceSetting appearance) {
    switch (appearance) {
    case AppearanceSetting::light:
        return "light";
    case AppearanceSetting::dark:
        return "dark";
    case AppearanceSetting::system:
        break;
    }
    return "system";
}

AppearanceSetting fromID(std::string_view text) {
    if (text == "light") {
        return AppearanceSetting::light;
    }
    if (text == "dark") {
        return AppearanceSetting::dark;
    }
    return AppearanceSetting::system;
}

} // namespace Appearance
