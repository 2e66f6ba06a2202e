#!/usr/bin/env bash
# Takes the manual's screenshots: runs the built window under Xvfb against the loopback test servers
# (tests/servers/start.sh, env.sh sourced) and a small slow HTTP server, then grabs the window.
# Usage: docs/screenshots.sh BUILD_DIR   (needs xvfb-run, xdotool, imagemagick, python3)
set -euo pipefail
build=${1:?usage: screenshots.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
bin="$build/src/app/bellwick"
: "${BW_TEST_FTP_PORT:?source the test servers env.sh first}"
work=$(mktemp -d /tmp/bw-shots.XXXXXX)
trap 'kill "${slow_pid:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/home/.config/Tolvenby" "$work/home/Downloads" "$work/run"
cat > "$work/home/.config/Tolvenby/Bellwick.conf" <<CONF
[Options]
ShowSiteStart=0
TimeStamp=1
UseDownloadPath=1
[Paths]
DownloadPath=$work/home/Downloads
CONF

# A server that sends its files slowly, so transfers are caught under way.
python3 - "$work/slow.port" <<'PY' &
import http.server, socketserver, sys, time
class Slow(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        size = 200_000_000
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        chunk = b"x" * 16384
        try:
            while True:
                self.wfile.write(chunk)
                time.sleep(0.05)
        except OSError:
            pass
    def log_message(self, *args):
        pass
socketserver.ThreadingTCPServer.allow_reuse_address = True
with socketserver.ThreadingTCPServer(("127.0.0.1", 0), Slow) as server:
    open(sys.argv[1], "w").write(str(server.server_address[1]))
    server.serve_forever()
PY
slow_pid=$!
for _ in $(seq 1 50); do [ -s "$work/slow.port" ] && break; sleep 0.1; done
slow=$(cat "$work/slow.port")

mkdir -p "$BW_TEST_FTP_ROOT/docs-shots"
head -c 300000 /dev/urandom > "$BW_TEST_FTP_ROOT/docs-shots/release-notes.txt"
ftp="127.0.0.1:$BW_TEST_FTP_PORT"
python3 - "$work/run/filelist.ftp" "$work/home/Downloads" <<PY
import struct, sys
urls = [
    "http://127.0.0.1:$slow/mirror/debian-12-netinst.iso",
    "http://127.0.0.1:$slow/mirror/backup-2026.tar.gz",
    "ftp://$BW_TEST_FTP_USER:wrong@$ftp/pub/report.pdf",
    "ftp://$BW_TEST_FTP_USER:$BW_TEST_FTP_PASSWORD@$ftp/docs-shots/release-notes.txt",
    "ftp://ftp.example.invalid/pub/tools.zip",
]
def s(text):
    b = text.encode()
    return struct.pack("<i", len(b)) + b
out = struct.pack("<ii", 1, len(urls))
for url in urls:
    scheme = 2 if url.startswith("http") else 1
    port = int(url.split(":")[-1].split("/")[0]) if url.count(":") >= 2 else (80 if scheme == 2 else 21)
    name = url.rsplit("/", 1)[1]
    out += s(url) + s(sys.argv[2] + "/" + name) + struct.pack("<iiiiiii", port, scheme, 0, 30, 10, 30, 0)
open(sys.argv[1], "wb").write(out)
PY

cat > "$work/shoot.sh" <<SHOOT
set -e
cd "$work/run"
HOME="$work/home" "$bin" filelist.ftp &
pid=\$!
for _ in \$(seq 1 100); do
    win=\$(xdotool search --name '^Bellwick\$' 2>/dev/null | head -1) && [ -n "\$win" ] && break
    sleep 0.1
done
xdotool windowsize "\$win" 1100 680
sleep 9
import -window "\$win" "$here/images/main-window.png"
geometry=\$(xdotool getwindowgeometry --shell "\$win")
eval "\$geometry"
# The "Errors" tab of the queue.
xdotool mousemove --window "\$win" 250 182 click 1
sleep 1
import -window "\$win" "$here/images/queue-errors.png"
xdotool key --window "\$win" alt+d
sleep 0.5
xdotool key o
sleep 1.5
sheet=\$(xdotool search --onlyvisible --class bellwick | grep -vx "\$win" | tail -1)
import -window "\$sheet" "$here/images/options.png"
xdotool key Escape
sleep 0.5
kill \$pid
wait \$pid || true
SHOOT
xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/shoot.sh"
rm -rf "$BW_TEST_FTP_ROOT/docs-shots"
echo "Screenshots written to $here/images"
