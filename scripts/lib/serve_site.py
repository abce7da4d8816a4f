#!/usr/bin/env python3
"""Serves the browser version's site on 127.0.0.1 with the two headers that
make the page cross-origin isolated, so that its modules may run threads:
Cross-Origin-Opener-Policy: same-origin and
Cross-Origin-Embedder-Policy: require-corp. --no-isolation leaves them out
(the page then runs one thread and says why). Prints the address to open."""
import argparse
import functools
import http.server
import sys


class SiteHandler(http.server.SimpleHTTPRequestHandler):
    isolated = True
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      '.wasm': 'application/wasm', '.js': 'text/javascript'}

    def end_headers(self):
        if self.isolated:
            self.send_header('Cross-Origin-Opener-Policy', 'same-origin')
            self.send_header('Cross-Origin-Embedder-Policy', 'require-corp')
        self.send_header('Cache-Control', 'no-cache')
        super().end_headers()

    def log_message(self, format, *args):
        pass  # a request line per file would bury the address


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('site', help='the site folder (build/web/site)')
    parser.add_argument('--port', type=int, default=8080, help='the port (0: any free one)')
    parser.add_argument('--no-isolation', action='store_true', help='leave out the two isolation headers')
    options = parser.parse_args()
    SiteHandler.isolated = not options.no_isolation
    handler = functools.partial(SiteHandler, directory=options.site)
    try:
        server = http.server.ThreadingHTTPServer(('127.0.0.1', options.port), handler)
    except OSError as error:
        sys.exit(f'Cannot serve on 127.0.0.1:{options.port}: {error.strerror}')
    print(f'Serving {options.site} at http://127.0.0.1:{server.server_port}/ (Ctrl-C ends it)', flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == '__main__':
    main()
