# Sourced by the build scripts: sets `launcher` to the compiler launcher to configure with.
# Always the same launcher for the same machine, so that scripts calling each other never
# change a configuration and force a rebuild: the one the environment names
# (CMAKE_CXX_COMPILER_LAUNCHER, even empty), or else ccache when it is installed.
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER+set}" ]; then
  launcher=$CMAKE_CXX_COMPILER_LAUNCHER
elif command -v ccache >/dev/null 2>&1; then
  launcher=ccache
else
  launcher=""
fi
