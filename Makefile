# The two user-facing targets: `make run` and `make test`.
.PHONY: run test deps docs-assets

deps:
	@bash scripts/install-deps.sh

# Swagger UI for /docs, fetched from npm into the build tree (never committed).
docs-assets:
	@bash scripts/fetch-docs-assets.sh build/web

run: deps docs-assets
	cmake --preset release
	cmake --build --preset release
	./build/release/ostrel-gateway $(ARGS)

test: deps docs-assets
	cmake --preset release
	cmake --build --preset release
	ctest --preset release
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan
