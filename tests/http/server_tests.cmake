# Server, request guard, access token and documentation page.
ostrel_add_test(http_request_guard_test SOURCES request_guard_test.cpp LIBS ostrel_http)
ostrel_add_test(http_access_token_test SOURCES access_token_test.cpp LIBS ostrel_http)
ostrel_add_test(http_docs_page_test SOURCES docs_page_test.cpp LIBS ostrel_http)
ostrel_add_test(http_server_test SOURCES server_test.cpp LIBS ostrel_http)
