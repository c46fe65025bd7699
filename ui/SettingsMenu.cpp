#include "ui/SettingsMenu.h"

#include "ui/AnswerSettingsDlg.h"
#include "ui/AudioSettingsDlg.h"
#include "ui/GlobalSettingsDlg.h"
#include "ui/MainDlgLogic.h"
#include "ui/MainEngine.h"
#include "ui/SocksDlg.h"

namespace SettingsMenu {

Outcome Run(int command, CMainEngine& engine, CPhonebook& phonebook, int answerTab) {
    switch (command) {
        case MainCommand::kGlobalSettings: {
            CGlobalSettingsDlg dialog;
            dialog.SetColours(kStandardDialogColours);
            dialog.SetPhonebook(&phonebook);
            if (dialog.DoModal() != 1) return kCancelled;
            engine.ApplyGlobalSettings();
            return kApplied;
        }
        case MainCommand::kAudioSettings: {
            CAudioSettingsDlg dialog;
            dialog.SetColours(kStandardDialogColours);
            if (dialog.DoModal() != 1) return kCancelled;
            engine.ApplyAudioSettings();
            return kApplied;
        }
        case MainCommand::kAnswerSettings: {
            CAnswerSettingsDlg dialog;
            dialog.SetColours(kStandardDialogColours);
            if (!dialog.CreatePages(answerTab)) return kInitFailed;
            if (dialog.DoModal() != 1) return kCancelled;
            engine.ApplyConnectionSettings();
            return kApplied;
        }
        case MainCommand::kSocksSettings: {
            CSocksDlg dialog;
            if (dialog.DoModal() != 1) return kCancelled;
            engine.ApplyConnectionSettings();
            return kApplied;
        }
        default: return kNotMine;
    }
}

}  // namespace SettingsMenu
