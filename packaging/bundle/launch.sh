#!/bin/sh
# The bundle's command, run as `/bin/sh <bundle>/server/launch.sh`: sh needs only to read this
# file. Claude Desktop extracts a bundle with every file at 0600, again at each update, so the
# server beside it may have lost its execute bit; it gets the bit back here, then becomes the
# server through exec, so that no shell stays between the client and the server: its signals,
# its exit status and its memory are the server's own. Writes nothing of its own but one line
# when the server cannot be started.
# POSIX sh: dash, bash 3.2 in POSIX mode (the Mac's /bin/sh), zsh as sh.
# A client may start us with an empty or minimal PATH; the system's own tools come after it.
tools=${PATH:+$PATH:}/usr/bin:/bin
case $0 in
  */*) server=${0%/*}/tarnwick-mcp ;;
  *) server=./tarnwick-mcp ;;
esac

if [ ! -f "$server" ]; then
  echo "tarnwick-mcp: the bundle has no server at $server; reinstall the extension" >&2
  exit 127
fi
if [ ! -x "$server" ]; then
  # chmod's own message names the cause last, after ": ", on GNU and BSD alike.
  if ! why=$(PATH=$tools chmod u+x -- "$server" 2>&1) || [ ! -x "$server" ]; then
    why=${why##*: }
    echo "tarnwick-mcp: cannot give the server its execute bit back${why:+ ($why)}: $server" >&2
    exit 126
  fi
fi
exec "$server" "$@"
