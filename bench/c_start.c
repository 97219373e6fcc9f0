/* Reference for one-shot timings: a C process that does nothing. */
int main(void)
{
    return 0;
}
