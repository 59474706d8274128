# The three test configurations, shared by test-all.sh and stress-tests.sh (sourced, not run):
#   normal  the whole build and every test
#   asan    the Qt-free libraries and their tests under AddressSanitizer+UBSan (label sanitize)
#   tsan    the threaded tests under ThreadSanitizer (label threaded)
# configs_build NAME builds one; configs_ctest NAME ARGS... runs its suite with ctest.
: "${top:?top must name the source tree}"
jobs=${jobs:-$(nproc)}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export QTWEBENGINE_DISABLE_SANDBOX=1
# ZEPHYRINE_TEST_CONFIGS="asan tsan" picks some of them.
read -r -a test_configs <<<"${ZEPHYRINE_TEST_CONFIGS:-normal asan tsan}"

configs_dir() {  # name
    case $1 in
    normal) echo "$top/build" ;;
    *) echo "$top/build-$1" ;;
    esac
}

configs_build() {  # name
    local dir args=()
    dir=$(configs_dir "$1")
    case $1 in
    asan) args=(-DZEPHYRINE_SANITIZE=address -DZEPHYRINE_WITH_QT=OFF -DZEPHYRINE_BENCH=OFF) ;;
    tsan) args=(-DZEPHYRINE_SANITIZE=thread -DZEPHYRINE_WITH_QT=OFF -DZEPHYRINE_BENCH=OFF) ;;
    esac
    cmake -S "$top" -B "$dir" -G Ninja "${args[@]}" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

configs_ctest() {  # name, extra ctest args...
    local name=$1 dir
    shift
    dir=$(configs_dir "$name")
    case $name in
    normal) ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" ;;
    asan)
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            ctest --test-dir "$dir" --output-on-failure -j "$jobs" -L sanitize --no-tests=ignore "$@"
        ;;
    tsan)
        TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
            ctest --test-dir "$dir" --output-on-failure -j "$jobs" -L threaded --no-tests=ignore "$@"
        ;;
    esac
}
