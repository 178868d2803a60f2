;; Trace switches of the example installation: none is on. A switch writes its cursor's
;; work to the log at each collection, and show_cursor also a line for every request for
;; the cursor: under a steady stream of requests that is thousands of lines a second, and
;; the log, which wraps, soon keeps only those. To show the server counters at each
;; collection and request, take the two semicolons away from the next line.
;; show_cursor SRVSTAT;
end;
