;; Trace switches of the example installation: none is on. A switch writes its cursor's
;; work to the log each time the cursor is read, by every collection and every request:
;; under a steady stream of requests that is thousands of lines a second, and the log,
;; which wraps, soon keeps only them. To show the server counters whole at each reading,
;; take the two semicolons away from the next line.
;; show_cursor SRVSTAT;
end;
