// The host's own words follow the user's language, and right-to-left languages mirror: the page's
// confirm dialog under German and Arabic. LANGUAGE over C.UTF-8 needs no generated locale; German
// also runs under its own locale where that is installed.
#include <clocale>

#include "e2e/E2E.h"

TEST(Language, TheConfirmDialogSpeaksTheUsersLanguageAndMirrorsForRightToLeft)
{
    struct Case {
        const char* language;
        std::string title, ok, cancel, direction;
        // German's decimal comma where that locale is installed: the host's own CSS and log lines
        // must not take it.
        const char* locale = "C.UTF-8";
    };
    locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    if (german)
        freelocale(german);
    for (const Case& c : { Case { "de", "Bestätigen", "OK", "Abbrechen", "left-to-right", german ? "de_DE.UTF-8" : "C.UTF-8" },
             Case { "ar", "تأكيد", "حسنًا", "إلغاء", "right-to-left" } }) {
        SCOPED_TRACE(c.language);
        AppRunner app(AppRunner::Binary::TestApp);
        app.setEnv("LC_ALL", c.locale);
        app.setEnv("LANGUAGE", c.language);
        app.setEnv("G_MESSAGES_DEBUG", "penwick");
        app.startPage("<preference name=\"WindowSize\" value=\"900x700\"/>", "<!DOCTYPE html><meta charset=\"utf-8\"><script>addEventListener('load', () => setTimeout(() =>"
                          " console.log('confirm answered: ' + confirm('Sure?'))));</script>");
        ASSERT_TRUE(lineAppears(app, "dialog '" + c.title + "' buttons '" + c.ok + "' '" + c.cancel + "' " + c.direction));
        // The window manager sees the translated title; Return answers with the first button.
        ASSERT_TRUE(app.press("Return", c.title)) << app.output();
        EXPECT_TRUE(lineAppears(app, "confirm answered: true", 20s));
        EXPECT_EQ(app.output().find("Theme parsing error"), std::string::npos) << app.output();
        EXPECT_EQ(app.countLines("Set window size to 900.0 x 700.0"), 1) << app.output();
    }
}
