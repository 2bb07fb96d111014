"""Firefox ESR as a user runs it, for the desktop tests: a profile in use, no flags."""
import os

CLIENTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients")


def page(name):
    return "file://" + os.path.join(os.path.abspath(CLIENTS), name)


def firefox_command(home, page_url):
    """The command that opens `page_url` in Firefox with a profile under `home`, written first:
    past its first-run pages, as a profile in use is, and with the window size of one that was
    used (a first window is maximized)."""
    profile = os.path.join(home, "firefox")
    os.makedirs(profile, exist_ok=True)
    with open(os.path.join(profile, "xulstore.json"), "w") as f:
        f.write('{"chrome://browser/content/browser.xhtml": {"main-window": {"screenX": "100", '
                '"screenY": "100", "width": "900", "height": "600", "sizemode": "normal"}}}\n')
    with open(os.path.join(profile, "user.js"), "w") as f:
        f.write('user_pref("browser.aboutwelcome.enabled", false);\n'
                'user_pref("browser.shell.checkDefaultBrowser", false);\n'
                'user_pref("browser.startup.homepage_override.mstone", "ignore");\n'
                'user_pref("datareporting.policy.dataSubmissionEnabled", false);\n'
                'user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);\n')
    return ["firefox-esr", "--profile", profile, "--no-remote", page_url]
