#!/bin/bash
# Makes a small real Firefox cache: a fresh profile, a tiny local site, one headless visit.
# Usage (as root): make-sample.sh OUT [encrypted]
# Firefox runs only inside a network namespace of its own with nothing but loopback.
set -euo pipefail
out=$(realpath -m "$1")
mode=${2:-plain}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$out" && mkdir -p "$out/profile"
cat >"$out/profile/user.js" <<PREFS
user_pref("browser.cache.disk.enable", true);
user_pref("browser.cache.disk.smart_size.enabled", false);
user_pref("browser.cache.disk.capacity", 10240);
user_pref("browser.cache.disk.parent_directory", "$out/profile");
user_pref("browser.cache.disk.encryption.enabled", $([[ $mode == encrypted ]] && echo true || echo false));
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.enabled", false);
user_pref("app.update.enabled", false);
user_pref("network.predictor.enabled", false);
user_pref("network.prefetch-next", false);
user_pref("network.dns.disablePrefetch", true);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
PREFS
exec unshare --net sh -c '
    ip link set lo up
    python3 "$0/site.py" 8153 "$1/site.log" &
    server=$!
    sleep 1
    HOME="$1/home" timeout 120 firefox-esr --headless --no-remote --profile "$1/profile" \
        --screenshot "$1/shot.png" http://127.0.0.1:8153/index.html >"$1/firefox.log" 2>&1 || true
    kill $server
' "$here" "$out"
