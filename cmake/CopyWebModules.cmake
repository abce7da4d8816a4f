# Copies every module's .js, .wasm and thread worker into the site (cmake -P).
file(GLOB modules ${MODULES}/*/web/shallow-water-*.js ${MODULES}/*/web/shallow-water-*.wasm)
file(COPY ${modules} DESTINATION ${SITE})
