# make run    build and run the program under Wine (tools/run.sh)
# make test   every test stage (tools/test.sh); the last line counts the results
# make build  the Windows build in build/run
# make dist   the zip a Windows user downloads: build/dist/YXYT-<version>.zip
# make clean  remove all build folders
.PHONY: run test build dist clean

run:
	tools/run.sh

test:
	tools/test.sh

build:
	tools/setup.sh
	cmake -S . --preset dev -B build/run
	cmake --build build/run -j2

dist:
	tools/package.sh

clean:
	-tools/session.sh stop 2>/dev/null
	-YXYT_BUILD=$(CURDIR)/build/test tools/session.sh stop 2>/dev/null
	-YXYT_BUILD=$(CURDIR)/build/run tools/session.sh stop 2>/dev/null
	rm -rf build
