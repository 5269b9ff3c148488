# Shared locations for the project's scripts (sourced, not run).
HK_ROOT=${HK_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
# The dependency prefix is keyed on the recipe, so a changed recipe rebuilds
# while every clone on the machine shares one cache.
HK_DEPS_KEY=$(sha1sum "$HK_ROOT/scripts/build-deps" | cut -c1-12)
HK_DEPS_PREFIX=${HK_DEPS_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/hostkeeper/deps-$HK_DEPS_KEY}
export WINEPREFIX=${HK_WINEPREFIX:-$HK_ROOT/build/wine64}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export HK_ROOT HK_DEPS_PREFIX
