#!/bin/sh
# One Wine server for a whole Windows test run, in $WINEPREFIX:
#   wine_server.sh start SERVER WINE   before the first test
#   wine_server.sh stop SERVER         after the last
# Debian starts Wine's server with no persistence (-p0): it stops as soon
# as the last Windows program ends, and the next program starts a new one.
# A program that connects while the old server is stopping fails at once
# ("wine client error:0: recvmsg: Connection reset by peer"), and the
# end-to-end suites start hundreds of programs back to back. A server that
# stays up from the first test to the last has no such moment. The prefix
# is made here too, so that no test's time includes it.
set -eu
action=$1
server=$2
case $action in
  start)
    mkdir -p "$WINEPREFIX"
    # A server left running without persistence would refuse the new one.
    "$server" -k 2>/dev/null && "$server" -w || true
    "$server" -p </dev/null >/dev/null 2>&1
    "$3" wineboot --init </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$server" -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start SERVER WINE | stop SERVER" >&2
    exit 2
    ;;
esac
