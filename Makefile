# Front door: make run, make test, make bench, make fuzz, make e2e, make web, make dist,
# make format.
# Every target installs what it is missing (Debian 12, as root or through sudo).

MAKEFLAGS += --no-print-directory

JOBS      ?= 2
BUILD     ?= build
FUZZ_SECONDS ?= 60
NATIVE    := $(BUILD)/native
ASAN      := $(BUILD)/asan
TSAN      := $(BUILD)/tsan
WIN32     := $(BUILD)/win32
FUZZ      := $(BUILD)/fuzz
WASM      := $(BUILD)/wasm
WEB       := $(BUILD)/web
RENDER    := $(NATIVE)/tools/tonvarel-render
DIST      := $(BUILD)/dist
# What make dist takes the Windows program and the browser edition from: by default the build
# the Windows tests have just passed on, and the whole WebAssembly build; the reproducibility
# check builds only what goes into the packages (win32-exe, web-folder).
DIST_EXE  ?= test-win32
DIST_WEB  ?= web
WEB_PORT  ?= 8000
# emcc runs its JavaScript optimizer with node, which finds Debian's acorn here.
EMENV     := env NODE_PATH=/usr/share/nodejs

.PHONY: all run demo test bench fuzz e2e format native asan tsan win32 \
        test-native test-sanitizers test-reference test-win32 test-e2e \
        wasm wasm-configure web web-folder web-run test-wasm test-web win32-configure win32-exe \
        dist test-dist test-home-before \
        deps-native deps-win32 deps-e2e deps-web deps-web-test clean

all: native

deps-native:
	@scripts/install-deps.sh native
deps-win32:
	@scripts/install-deps.sh win32
deps-e2e:
	@scripts/install-deps.sh e2e
deps-web:
	@scripts/install-deps.sh web
# Firefox, WebKitGTK and what they run in; puppeteer-core, at the version pinned in the lock file.
deps-web-test: deps-web
	@scripts/install-deps.sh web-test
	@scripts/install-deps.sh --npm

native: deps-native
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)

# Unit tests again with AddressSanitizer + UndefinedBehaviorSanitizer, and the table hand-over
# stress test under ThreadSanitizer.
asan: deps-native
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONVAREL_SANITIZE=address,undefined >/dev/null
	@cmake --build $(ASAN) -j$(JOBS)
tsan: deps-native
	@cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONVAREL_SANITIZE=thread >/dev/null
	@cmake --build $(TSAN) -j$(JOBS) --target table_stress_test

test-native: native
	@ctest --test-dir $(NATIVE) --output-on-failure
test-sanitizers: asan tsan
	@ctest --test-dir $(ASAN) --output-on-failure
	@$(TSAN)/tests/unit/table_stress_test --gtest_brief=1
test-reference: native
	@python3 tests/reference/test_reference.py
	@python3 tests/reference/compare.py --render $(RENDER)

# The Windows build, cross-compiled with MinGW; its tests run under Wine with no display.
win32-configure: deps-win32
	@cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
win32: win32-configure
	@cmake --build $(WIN32) -j$(JOBS)
win32-exe: win32-configure
	@cmake --build $(WIN32) -j$(JOBS) --target tonvarel
test-win32: win32
	@python3 tools/make_icons.py --check
	@ctest --test-dir $(WIN32) --output-on-failure

# The real program under Wine in a virtual X display, driven as a person would.
test-e2e e2e: win32 native deps-e2e
	@tests/e2e/run.sh $(WIN32)/app/tonvarel.exe $(RENDER)

# The same engine built with Emscripten: the headless renderer for Node, and the browser edition
# gathered as a static folder in $(WEB).
wasm-configure: deps-web
	@mkdir -p $(WASM)
	@$(EMENV) emcmake cmake -S . -B $(WASM) -DCMAKE_BUILD_TYPE=Release -DTONVAREL_TESTS=OFF \
	  -DTONVAREL_WEB_DIR=$(abspath $(WEB)) >$(WASM)/configure.log 2>&1 || \
	  { cat $(WASM)/configure.log; exit 1; }
wasm web: wasm-configure
	@$(EMENV) cmake --build $(WASM) -j$(JOBS)
# The browser edition's folder alone, without the renderer and the benchmarks.
web-folder: wasm-configure
	@$(EMENV) cmake --build $(WASM) -j$(JOBS) --target tonvarel-web web-static
# Python's own type table serves .wasm as application/wasm and .webmanifest as
# application/manifest+json, as browsers want them.
web-run: web
	@echo "Tonvarel in the browser: http://127.0.0.1:$(WEB_PORT)/  (Ctrl+C stops the server)"
	@python3 -m http.server $(WEB_PORT) --bind 127.0.0.1 --directory $(WEB) >/dev/null

# The release packages in $(DIST), from the tested program and the browser edition.
dist: $(DIST_EXE) $(DIST_WEB)
	@python3 scripts/dist.py --version-file $(WIN32)/tonvarel-version.txt \
	  --exe $(WIN32)/app/tonvarel.exe --web $(WEB) --out $(DIST)

# The packages hold what was tested and start under Wine; two clean clones give the same bytes.
test-dist: dist native deps-e2e
	@cd $(DIST) && sha256sum --quiet -c SHA256SUMS
	@rm -rf $(BUILD)/dist-check && mkdir -p $(BUILD)/dist-check
	@python3 -m zipfile -e $(DIST)/tonvarel-*-win64.zip $(BUILD)/dist-check
	@cmp $(BUILD)/dist-check/tonvarel.exe $(WIN32)/app/tonvarel.exe
	@tests/e2e/run.sh $(BUILD)/dist-check/tonvarel.exe $(RENDER) --only 1-start --reuse-prefix
	@scripts/check-reproducible.sh

# The reference corpus against the WebAssembly renderer, and the page's module playing MIDI,
# fingers and the looper against it under Node; the page in headless Chromium, then in all three
# browser engines (Chromium, Firefox, WebKit). Both suites run, whichever fails.
test-wasm: wasm
	@python3 tests/reference/compare.py --render $(WASM)/tonvarel-render
	@node tests/web/module.mjs --web $(WEB) --render $(WASM)/tonvarel-render
test-web: web native deps-web-test
	@status=0; \
	node tests/web/run.mjs --web $(WEB) --render $(RENDER) --out $(BUILD)/web-test || status=1; \
	node tests/web/engines.mjs --web $(WEB) --render $(RENDER) \
	  --out $(BUILD)/web-engines || status=1; \
	exit $$status

# A test run leaves nothing in the home folder: what it holds is noted once the packages are in
# place, and looked at again when every tier has passed.
HOME_LIST := $(BUILD)/home-before.txt
test-home-before: deps-native deps-win32 deps-e2e deps-web-test
	@scripts/check-home.sh --before $(HOME_LIST)

test: test-home-before test-native test-sanitizers test-reference test-win32 test-e2e test-wasm \
      test-web test-dist
	@scripts/check-home.sh --after $(HOME_LIST)

# The engine, the WAV code, a recording made into a voice, the block in WebAssembly against native and in render quanta against
# whole blocks, and in headless Chromium and Firefox the time from a tap on the pad to its first
# sample leaving the output, beside the same for a page that does nothing else (the floor).
bench: native wasm deps-web-test
	@$(NATIVE)/bench/bench_engine
	@$(NATIVE)/bench/bench_wavfile
	@$(NATIVE)/bench/bench_voiceloop
	@scripts/bench-wasm.sh $(NATIVE)/bench/bench_render_block $(WASM)/bench/bench_render_block.js
	@node tests/web/latency.mjs --web $(WEB) --out $(BUILD)/web-latency

# The WAV import under libFuzzer (clang, ASan+UBSan) for FUZZ_SECONDS, from generated seeds.
fuzz: deps-native
	@cmake -S . -B $(FUZZ) -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONVAREL_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ) -j$(JOBS) --target wav_import_fuzzer
	@python3 fuzz/make_seeds.py $(FUZZ)/seeds
	@mkdir -p $(FUZZ)/corpus
	@$(FUZZ)/fuzz/wav_import_fuzzer $(FUZZ)/corpus $(FUZZ)/seeds -dict=fuzz/wav.dict \
	  -max_len=65536 -rss_limit_mb=4096 -artifact_prefix=$(FUZZ)/ -print_final_stats=1 \
	  -max_total_time=$(FUZZ_SECONDS)

run: win32
	@scripts/run-windows.sh $(WIN32)/app/tonvarel.exe

# A short performance rendered by the headless renderer, no display or sound device needed.
demo: native
	@$(RENDER) tools/demo.txt --out $(BUILD)/demo.wav
	@echo "Rendered the demo performance to $(BUILD)/demo.wav"

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
