# Sourced: starts a persistent wineserver and Wine's services with their stdio
# on /dev/null (captured runs then return at once instead of waiting for
# them), making the project's Wine prefix on first use.
wineserver -p </dev/null >/dev/null 2>&1 || true
wine wineboot </dev/null >/dev/null 2>&1 || true
